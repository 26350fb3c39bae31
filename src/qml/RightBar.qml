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

    // Below the page's content, which ends above it: the content scrolls, the footer stays.
    bottomPadding: 0
    footer: RecordPanel {
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
