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
            // Only while the view moves on its own; otherwise it draws on input and bar changes.
            running: glRectangle.viewModel.animating
        }

        // Idle, a frame a second still lets the depth source look for cameras and recordings.
        Timer {
            interval: 1000
            repeat: true
            running: !glRectangle.viewModel.animating
            onTriggered: glRectangle.redraw()
        }

        Connections {
            target: glRectangle.viewModel
            function onRedrawRequested() { glRectangle.redraw() }
        }

        Component.onCompleted: viewModel.redrawOnChangesOf(globalState.rightBarViewModel)

        // F frames every cloud, R or Home returns to the start view, C orbits around the cursor:
        // shortcuts of the window, so that the keys act whichever control of the bar was clicked
        // last, without a click into the view (which would move the cursor).
        Shortcut { sequence: "F"; onActivated: glRectangle.viewModel.frameAll() }
        Shortcut { sequences: ["R", "Home"]; onActivated: glRectangle.viewModel.resetView() }
        Shortcut { sequence: "C"; onActivated: glRectangle.viewModel.centreOnCursor() }

        MouseArea {
            anchors.fill: parent
            acceptedButtons: Qt.LeftButton | Qt.RightButton | Qt.MiddleButton
            onPressed: {
                glRectangle.forceActiveFocus()
                glRectangle.viewModel.onPressed(mouseX, mouseY, mouse.button)
            }
            onReleased: glRectangle.viewModel.onReleased(mouseX, mouseY)
            onPositionChanged: glRectangle.viewModel.onPositionChanged(mouseX, mouseY)
            onDoubleClicked: if (mouse.button === Qt.LeftButton) glRectangle.viewModel.frameAll()
            onWheel: glRectangle.viewModel.onWheel(wheel.angleDelta.y)
        }

        Text {
            id: noCameraLine
            objectName: "noCameraLine"
            visible: glRectangle.viewModel.cameraCount === 0
            x: 12
            y: 10
            width: glRectangle.width - 320 - 2 * x
            wrapMode: Text.WordWrap
            text: "No camera found. Try the virtual cameras (./scripts/run.sh --demo) or the sample "
                  + "recordings (Input: Recording (.hdf5), samples/OP1)."
            color: "white"
            style: Text.Outline
            styleColor: "#303030"
            font.pixelSize: 13
        }
    }

    // The recordings' transport, over the bottom of the view.
    PlaybackBar {
        anchors.left: parent.left
        anchors.bottom: parent.bottom
        anchors.margins: 8
        viewModel: globalState.rightBarViewModel
    }

    RightBar {
        anchors.top: parent.top
        anchors.bottom: parent.bottom
        anchors.right: parent.right
        width: 320
        viewModel: globalState.rightBarViewModel
    }
}
