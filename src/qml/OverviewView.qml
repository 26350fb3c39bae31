import QtQuick 2.14
import QtQuick.Controls 2.14
import QtQuick.Window 2.14
import QtQuick.Dialogs 1.0
import QMLTavorin 1.0

ScrollView {
    id: overviewView
    property RightBarViewModel viewModel: null

    RecordingDialog {
        id: fileDialog1
        prompt: "(1) Wähle erste Kinect-Aufname aus:"
        viewModel: overviewView.viewModel
        onChosen: {
            fileDialog2.folder = fileDialog1.fileUrl
            fileDialog2.open()
        }
        onRejected: console.log("Canceled")
    }

    RecordingDialog {
        id: fileDialog2
        prompt: "(2) Wähle zweite Kinect-Aufname aus:"
        viewModel: overviewView.viewModel
        onChosen: {
            fileDialog3.folder = fileDialog2.fileUrl
            fileDialog3.open()
        }
        onRejected: viewModel.setDepthImageSource(1, fileDialog1.fileUrl.toString())
    }

    RecordingDialog {
        id: fileDialog3
        prompt: "(3) Wähle dritte Kinect-Aufname aus:"
        viewModel: overviewView.viewModel
        onChosen: viewModel.setDepthImageSource(1, fileDialog1.fileUrl.toString(), fileDialog2.fileUrl.toString(),
                                                fileDialog3.fileUrl.toString())
        onRejected: viewModel.setDepthImageSource(1, fileDialog1.fileUrl.toString(),
                                                  fileDialog2.fileUrl.toString())
    }

    Column {
        width: 310

        Text { text: "Tiefenbildquelle"; font.pixelSize: 14; font.bold: true; color: "white" }
        Separator {}
        Row {
            Text { text: "Eingabe:"; font.pixelSize: 11; color: "white"; width: 120; topPadding: 12 }
            ComboBox {
                width: 146
                model: ["Azure Kinects", "HDF5-Aufnahme"]
                currentIndex: 0
                onCurrentIndexChanged: {
                    if (currentIndex === 1)
                        fileDialog1.open()
                    else
                        viewModel.setDepthImageSource(currentIndex)
                }
            }
        }
        Separator {}

        Text { text: "Algorithmuseinstellungen"; font.pixelSize: 14; font.bold: true; color: "white" }
        Separator {}
        ValueRow {
            pName: "Maximale Lichtänderung: "
            pFrom: 0
            pTo: 2
            pStepSize: 0.05
            pDisplay: function(value) { return Math.round(value * 100) / 100 }
            pGetValue: function() { return viewModel.maxIntensityChangement }
            pSetValue: function(slider) { return function() { viewModel.maxIntensityChangement = slider.value } }
        }
        Text {
            width: parent.width
            wrapMode: Text.WordWrap
            font.pixelSize: 12
            color: "#BBBBBB"
            text: "Die maximale Geschwindigkeit, mit der sich die Helligkeit eines Moduls pro Sekunde ändern darf, relativ zu seiner maximalen Helligkeit."
        }
        Separator {}

        Text { text: "Anzeigeoptionen"; font.pixelSize: 14; font.bold: true; color: "white" }
        Separator {}
        CustomCheckBox {
            text: "Original Point Cloud zeigen"
            checked: viewModel.debug_showKinectPC
            onToggled: viewModel.debug_showKinectPC = checked
        }
        CustomCheckBox {
            text: "HeightMap zeigen"
            checked: viewModel.debug_showHeightMap
            onToggled: viewModel.debug_showHeightMap = checked
        }
        CustomCheckBox {
            text: "Strahlen darstellen"
            checked: viewModel.debug_showRays
            onToggled: viewModel.debug_showRays = checked
        }
        CustomCheckBox {
            text: "Helligkeiten der Module anzeigen"
            checked: viewModel.debug_renderModuleBrightnessText
            onToggled: viewModel.debug_renderModuleBrightnessText = checked
        }
    }
}
