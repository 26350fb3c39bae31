import QtQuick 2.14
import QtQuick.Controls 2.14
import QMLTavorin 1.0

// The Record toggle: records the live cameras to recordings/<date>_<time>/, showing the elapsed
// time and the frames written. Enabled only while live cameras stream. Its timer refreshes the
// view model also while the panel is hidden, which is how it learns of live cameras.
Column {
    id: recordPanel
    property RecordViewModel viewModel: null
    spacing: 4

    Timer {
        interval: 250
        running: recordPanel.viewModel !== null
        repeat: true
        onTriggered: recordPanel.viewModel.refresh()
    }

    Button {
        id: recordButton
        objectName: "recordButton"
        width: parent.width
        checkable: true
        enabled: recordPanel.viewModel !== null && recordPanel.viewModel.available
        checked: recordPanel.viewModel !== null && recordPanel.viewModel.recording
        onClicked: recordPanel.viewModel.toggle()
        contentItem: Text {
            text: "Record"
            color: recordButton.enabled ? "white" : "#777777"
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
        }
        background: Rectangle { color: recordButton.checked ? "#B22222" : "#666666" }
    }

    Text {
        width: parent.width
        visible: recordPanel.viewModel !== null && recordPanel.viewModel.recording
        color: "white"
        font.pixelSize: 12
        text: recordPanel.viewModel ? recordPanel.viewModel.elapsed + "  " + recordPanel.viewModel.framesWritten
                                      + " frames  " + recordPanel.viewModel.folder : ""
    }
}
