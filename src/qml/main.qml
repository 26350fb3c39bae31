import QtQuick 2.14
import QtQuick.Controls 2.14
import QtQuick.Window 2.14
import QMLTavorin 1.0

ApplicationWindow {
    id: mainWindow
    visible: true
    width: 1280
    height: 720
    title: qsTr("Tavorin")

    GLRectangle {
        id: glRectangle
        anchors.fill: parent
        layer.enabled: true
        layer.samples: 1
        property GLRectangleViewModel viewModel: globalState.glRectangleViewModel

        SequentialAnimation on time {
            NumberAnimation { to: 1; duration: 1000; easing.type: Easing.InQuad }
            NumberAnimation { to: 0; duration: 1000; easing.type: Easing.OutQuad }
            loops: Animation.Infinite
            running: true
        }

        MouseArea {
            anchors.fill: parent
            onPressed: glRectangle.viewModel.onPressed(mouseX, mouseY)
            onReleased: glRectangle.viewModel.onReleased(mouseX, mouseY)
            onPositionChanged: glRectangle.viewModel.onPositionChanged(mouseX, mouseY)
            onWheel: glRectangle.viewModel.onWheel(wheel.angleDelta.y)
        }
    }

    RightBar {
        anchors.top: parent.top
        anchors.bottom: parent.bottom
        anchors.right: parent.right
        width: 320
        viewModel: globalState.rightBarViewModel
    }
}
