import QtQuick 2.14
import QtQuick.Dialogs 1.3
import QMLTavorin 1.0

// The file dialog of one recording. A folder, or a file that cannot be read, is named on the
// console and in the title, and the dialog asks again; a playable file emits chosen().
FileDialog {
    id: dialog
    property string prompt
    property RightBarViewModel viewModel: null
    signal chosen()

    title: prompt
    // The sample scene or the recordings, with their files first.
    folder: viewModel ? viewModel.recordingDialogFolder() : shortcuts.home
    nameFilters: ["Azure Kinect recordings (*.h5)", "All files (*)"]
    onAccepted: {
        var fault = viewModel.recordingChoiceFault(fileUrl.toString(), folder.toString())
        if (fault !== "") {
            title = prompt + " " + fault
            open()
            return
        }
        title = prompt
        console.log("You chose: " + fileUrl)
        chosen()
    }
}
