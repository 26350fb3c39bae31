import QtQuick 2.14
import QtQuick.Controls 2.14
import QtQuick.Window 2.14
import QtQuick.Dialogs 1.3
import QMLTavorin 1.0

ScrollView {
    id: calibrationView
    property RightBarViewModel viewModel: null
    // The file dialogs are children too, so the scrolled height is not deduced from the column.
    // The column leaves room for the vertical scroll bar and never scrolls sideways, so that every
    // control is clickable over its whole width.
    contentHeight: settingsColumn.implicitHeight
    contentWidth: availableWidth
    ScrollBar.horizontal.policy: ScrollBar.AlwaysOff

    // The wheel moves the bar by steps that stop with the wheel, over every control of it: a flick
    // that went on after the wheel stopped would pass the bar under a resting pointer, and no slider
    // under the pointer takes the wheel.
    MouseArea {
        parent: calibrationView
        anchors.fill: parent
        z: 100
        acceptedButtons: Qt.NoButton
        onWheel: {
            var flickable = calibrationView.contentItem
            var notchPixels = 60
            var step = wheel.pixelDelta.y !== 0 ? wheel.pixelDelta.y : wheel.angleDelta.y / 120 * notchPixels
            var end = Math.max(0, flickable.contentHeight - flickable.height)
            flickable.contentY = Math.max(0, Math.min(end, flickable.contentY - step))
        }
    }

    // Every kinect_*.h5 of one folder, played in step. A folder without one is named on the console
    // and in the title, and the dialog asks again.
    FileDialog {
        id: folderDialog
        property string prompt: "Choose a folder of Azure Kinect recordings:"
        title: prompt
        selectFolder: true
        folder: calibrationView.viewModel ? calibrationView.viewModel.recordingDialogFolder() : shortcuts.home
        onAccepted: {
            var fault = calibrationView.viewModel.setRecordingFolder(fileUrl.toString(), folder.toString())
            if (fault !== "") {
                title = prompt + " " + fault
                open()
                return
            }
            title = prompt
        }
    }

    RecordingDialog {
        id: fileDialog1
        prompt: "(1) Choose first Azure Kinect Recording:"
        viewModel: calibrationView.viewModel
        onChosen: {
            fileDialog2.folder = fileDialog1.folder
            fileDialog2.open()
        }
        onRejected: console.log("Canceled")
    }

    RecordingDialog {
        id: fileDialog2
        prompt: "(2) Choose second Azure Kinect Recording:"
        viewModel: calibrationView.viewModel
        onChosen: {
            fileDialog3.folder = fileDialog2.folder
            fileDialog3.open()
        }
        onRejected: viewModel.setDepthImageSource(1, fileDialog1.fileUrl.toString())
    }

    RecordingDialog {
        id: fileDialog3
        prompt: "(3) Choose third Azure Kinect Recording:"
        viewModel: calibrationView.viewModel
        onChosen: viewModel.setDepthImageSource(1, fileDialog1.fileUrl.toString(), fileDialog2.fileUrl.toString(),
                                                fileDialog3.fileUrl.toString())
        onRejected: viewModel.setDepthImageSource(1, fileDialog1.fileUrl.toString(),
                                                  fileDialog2.fileUrl.toString())
    }

    Column {
        id: settingsColumn
        width: calibrationView.availableWidth - 10

        Text { text: "Depth Image Source"; font.pixelSize: 14; font.bold: true; color: "white" }
        Separator {}
        Row {
            Text { text: "Input:"; font.pixelSize: 11; color: "white"; width: 60; topPadding: 12 }
            ComboBox {
                id: sourceBox
                width: settingsColumn.width - 60
                font.pixelSize: 12
                model: ["Azure Kinect (Live)", "Recording (.hdf5)", "Recording folder (.hdf5)", "Network (ROS 2)"]
                currentIndex: 0
                onCurrentIndexChanged: {
                    if (currentIndex === 1)
                        fileDialog1.open()
                    else if (currentIndex === 2)
                        folderDialog.open()
                    else
                        viewModel.setDepthImageSource(currentIndex)
                }
            }
        }
        // The cameras' wiring and how far apart the current frames were captured, in place of a
        // blank line (its height kept, so that nothing below moves), small enough to fit the bar.
        Text {
            width: parent.width
            height: 17
            verticalAlignment: Text.AlignVCenter
            fontSizeMode: Text.HorizontalFit
            minimumPixelSize: 9
            elide: Text.ElideRight
            font.pixelSize: 11
            color: "#BBBBBB"
            text: viewModel.frameSetTiming === "" ? " " : viewModel.frameSetTiming
        }
        Separator {}

        Text {
            width: parent.width
            text: "Registration of multiple depth cameras"
            font.pixelSize: 14
            font.bold: true
            fontSizeMode: Text.HorizontalFit
            minimumPixelSize: 11
            color: "white"
        }
        Separator {}
        Text {
            width: parent.width
            wrapMode: Text.WordWrap
            font.pixelSize: 12
            color: "#BBBBBB"
            text: "Performs an extrinsic calibration of multiple depth cameras against each other. As soon as the following checkbox is activated, a 44cm x 44cm grid with 25 holes (each 4x4cm) is searched for in the depth image and a registration is automatically performed."
        }
        CustomCheckBox {
            text: "Activate Registration"
            checked: viewModel.depthCameraRegistrationEnabled
            onToggled: viewModel.depthCameraRegistrationEnabled = checked
        }
        // A line per camera in place of a blank line, wrapped in the narrow bar rather than cut:
        // two lines each of up to three cameras fit the room kept for them, so that nothing below
        // moves when the lines appear; more cameras, or a hint, make room for theirs.
        Item {
            width: parent.width
            height: Math.max(84, progressLines.implicitHeight)
            Column {
                id: progressLines
                width: parent.width
                Repeater {
                    model: viewModel.registrationProgress
                    Text {
                        width: parent.width
                        font.pixelSize: 11
                        wrapMode: Text.WordWrap
                        color: "white"
                        text: modelData
                    }
                }
            }
        }
        Separator {}

        Text { text: "Register with World "; font.pixelSize: 14; font.bold: true; color: "white" }
        Separator {}
        Text {
            width: parent.width
            wrapMode: Text.WordWrap
            font.pixelSize: 12
            color: "#BBBBBB"
            text: "Registers all depth cameras into the world coordinate system. The depth cameras should already be registered for this step. Move the cursor as precisely as possible to three ground markers in the Point Cloud and click on the button of the corresponding marker. Then click on \"Register World\"."
        }
        Separator {}
        ValueRow {
            pName: "Cursor X: "
            pFrom: -4
            pTo: 4
            pStepSize: 0.01
            pGetValue: function() { return viewModel.calibCursorX }
            pSetValue: function(slider) { return function() { viewModel.calibCursorX = slider.value } }
        }
        ValueRow {
            pName: "Cursor Y: "
            pFrom: -4
            pTo: 4
            pStepSize: 0.01
            pGetValue: function() { return viewModel.calibCursorY }
            pSetValue: function(slider) { return function() { viewModel.calibCursorY = slider.value } }
        }
        ValueRow {
            pName: "Cursor Z: "
            pFrom: -4
            pTo: 4
            pStepSize: 0.01
            pGetValue: function() { return viewModel.calibCursorZ }
            pSetValue: function(slider) { return function() { viewModel.calibCursorZ = slider.value } }
        }
        Separator {}
        Row {
            Repeater {
                model: [{ name: "Save Point 0", color: "#AA2222" },
                        { name: "Save Point 1", color: "#22AA22" },
                        { name: "Save Point 2", color: "#2222AA" }]
                Button {
                    id: pointButton
                    width: settingsColumn.width / 3
                    height: 24
                    property string label: modelData.name
                    property bool saved: false
                    onClicked: {
                        saved = true
                        viewModel.storeRoomCalibPoint(index)
                    }
                    // A saved point shows where it lies now, also after a room registration.
                    Connections {
                        target: viewModel
                        function onRoomCalibPointsChanged() {
                            if (pointButton.saved)
                                pointButton.label = viewModel.getRoomCalibPointString(index)
                        }
                    }
                    contentItem: Text {
                        text: pointButton.label
                        font.pixelSize: 10
                        fontSizeMode: Text.HorizontalFit
                        minimumPixelSize: 7
                        color: "white"
                        horizontalAlignment: Text.AlignHCenter
                        verticalAlignment: Text.AlignVCenter
                    }
                    background: Rectangle { color: modelData.color }
                }
            }
        }
        Separator {}
        Row {
            spacing: 4
            Button {
                width: settingsColumn.width * 0.55
                onClicked: viewModel.registrateRoom()
                contentItem: Text {
                    text: "Register World"
                    color: "white"
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                }
                background: Rectangle { color: "#666666" }
            }
            Button {
                objectName: "undoRoomRegistration"
                width: settingsColumn.width * 0.45 - 4
                onClicked: viewModel.undoRoomRegistration()
                contentItem: Text {
                    text: "Undo Room Registration"
                    color: "white"
                    font.pixelSize: 11
                    fontSizeMode: Text.HorizontalFit
                    minimumPixelSize: 8
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                }
                background: Rectangle { color: "#666666" }
            }
        }
        // The clicked rectangle's check after a room registration, in a line kept for it; a
        // refusal wraps onto more lines, so that the rule it gives shows whole.
        Text {
            width: parent.width
            height: Math.max(16, implicitHeight)
            verticalAlignment: Text.AlignVCenter
            wrapMode: Text.WordWrap
            font.pixelSize: 11
            color: "#BBBBBB"
            text: viewModel.roomCheck === "" ? " " : viewModel.roomCheck
        }
        Separator {}
        Button {
            width: parent.width
            onClicked: viewModel.storeCalibrations()
            contentItem: Text {
                text: "Save Registration to JSON-File"
                color: "white"
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
            }
            background: Rectangle { color: "#666666" }
        }
        Separator {}
        QualitySection {
            viewModel: calibrationView.viewModel
        }
        Separator {}
        Text { text: "Cameras"; font.pixelSize: 14; font.bold: true; color: "white" }
        CameraList {
            width: parent.width
            viewModel: globalState.viewOptionsViewModel
        }
        Separator {}
        Text {
            width: parent.width
            font.pixelSize: 12
            color: "#BBBBBB"
            text: "Tavorin, by the Tavorin team"
        }
    }
}
