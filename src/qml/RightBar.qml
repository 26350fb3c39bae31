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

    // Shown while live cameras stream, so that without them the bar keeps all of its height.
    footer: RecordPanel {
        viewModel: globalState.recordViewModel
        visible: viewModel !== null && viewModel.available
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
