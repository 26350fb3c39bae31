import QtQuick 2.14
import QtQuick.Controls 2.14
import QMLTavorin 1.0

// The cameras of the view: "Colour by camera", then one row per camera with a check box that shows
// or hides its cloud, its colour and "<index>  <serial>".
Column {
    id: cameraList
    property ViewOptionsViewModel viewModel: null
    width: 310

    // One row high, so that the rows below keep one pitch from it.
    CustomCheckBox {
        height: 30
        text: "Colour by camera"
        checked: cameraList.viewModel ? cameraList.viewModel.colorByCamera : false
        onToggled: cameraList.viewModel.colorByCamera = checked
    }
    Repeater {
        model: cameraList.viewModel ? cameraList.viewModel.cameras : []
        Row {
            spacing: 8
            height: 30
            CustomCheckBox {
                anchors.verticalCenter: parent.verticalCenter
                height: 30
                checked: modelData.shown
                onToggled: cameraList.viewModel.setCameraShown(index, checked)
            }
            Rectangle {
                anchors.verticalCenter: parent.verticalCenter
                width: 16
                height: 16
                color: modelData.color
            }
            Text {
                anchors.verticalCenter: parent.verticalCenter
                width: 230
                elide: Text.ElideRight
                text: modelData.label
                font.pixelSize: 12
                color: "white"
            }
        }
    }
}
