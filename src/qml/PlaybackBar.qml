import QtQuick 2.14
import QtQuick.Controls 2.14
import QMLTavorin 1.0

// The transport of the recordings being played, over the bottom of the view: play or pause, one
// frame on, loop, and where playback stands ("Frame 12 of 240, 0.4 s of 8.0 s", and the end).
// Shown only while recordings play.
Rectangle {
    id: playbackBar
    property RightBarViewModel viewModel: null
    readonly property var state: viewModel ? viewModel.playback : ({})
    visible: state.available === true
    width: row.implicitWidth + 16
    height: 36
    radius: 4
    color: "#CC202020"

    component TransportButton: Button {
        id: transportButton
        property string label
        property bool lit: false
        width: Math.max(56, labelText.implicitWidth + 16)
        height: 26
        contentItem: Text {
            id: labelText
            text: transportButton.label
            font.pixelSize: 12
            color: "white"
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
        }
        background: Rectangle { color: transportButton.lit ? "#3A6EA5" : (transportButton.down ? "#888888" : "#666666") }
    }

    Row {
        id: row
        x: 8
        anchors.verticalCenter: parent.verticalCenter
        spacing: 6

        TransportButton {
            objectName: "playPauseButton"
            label: playbackBar.state.paused || playbackBar.state.ended ? "Play" : "Pause"
            onClicked: playbackBar.viewModel.playbackCommand(playbackBar.state.paused || playbackBar.state.ended ? 0 : 1)
        }
        TransportButton {
            objectName: "stepButton"
            label: "Step"
            onClicked: playbackBar.viewModel.playbackCommand(2)
        }
        TransportButton {
            objectName: "loopButton"
            label: "Loop"
            lit: playbackBar.state.looping === true
            onClicked: playbackBar.viewModel.playbackCommand(playbackBar.state.looping ? 4 : 3)
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: playbackBar.state.text !== undefined ? playbackBar.state.text : ""
            font.pixelSize: 12
            color: playbackBar.state.ended ? "#FFCC66" : "white"
        }
    }
}
