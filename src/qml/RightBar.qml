import QtQuick 2.14
import QtQuick.Controls 2.14
import QtQuick.Window 2.14
import QMLTavorin 1.0

Page {
    id: rightBar
    padding: 6
    clip: true
    property RightBarViewModel viewModel: null

    background: Rectangle {
        color: "black"
    }

    // Above the page's content, which reaches below its bottom edge.
    footer: RecordPanel {
        z: 1
        viewModel: globalState.recordViewModel
    }

    SwipeView {
        anchors.fill: parent
        currentIndex: 0
        clip: true

        CalibrationView {
            viewModel: rightBar.viewModel
        }
    }
}
