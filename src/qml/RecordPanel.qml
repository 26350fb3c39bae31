import QtQuick 2.14
import QtQuick.Controls 2.14
import QMLTavorin 1.0

// The Record toggle: records the live cameras to recordings/<date>_<time>/, showing the elapsed
// time and the frames written. Shown, and enabled, only while live cameras stream, so that
// without them the bar keeps all of its height; its timer keeps asking for live cameras.
Item {
    id: recordPanel
    property RecordViewModel viewModel: null
    readonly property bool shown: viewModel !== null && viewModel.available
    implicitHeight: shown ? row.height + 4 : 0

    Timer {
        interval: 250
        running: recordPanel.viewModel !== null
        repeat: true
        onTriggered: recordPanel.viewModel.refresh()
    }

    // One row, so that the bar's first screen keeps the "Save Point" buttons above it.
    Row {
        id: row
        y: 2
        width: parent.width
        spacing: 8
        visible: recordPanel.shown

        Button {
            id: recordButton
            objectName: "recordButton"
            width: 120
            height: 24
            checkable: true
            enabled: recordPanel.shown
            checked: recordPanel.viewModel !== null && recordPanel.viewModel.recording
            onClicked: recordPanel.viewModel.toggle()
            contentItem: Text {
                text: "Record"
                color: "white"
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
            }
            background: Rectangle { color: recordButton.checked ? "#B22222" : "#666666" }
        }

        // Always there, so that the button keeps its place when the recording starts.
        Text {
            width: row.width - recordButton.width - row.spacing
            height: recordButton.height
            verticalAlignment: Text.AlignVCenter
            elide: Text.ElideMiddle
            color: "white"
            font.pixelSize: 12
            text: recordPanel.viewModel && recordPanel.viewModel.recording
                  ? recordPanel.viewModel.elapsed + "  " + recordPanel.viewModel.framesWritten + " frames  "
                    + recordPanel.viewModel.folder
                  : "Not recording"
        }
    }
}
