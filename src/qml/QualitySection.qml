import QtQuick 2.14
import QtQuick.Controls 2.14
import QMLTavorin 1.0

// Each camera's calibration at a glance: its verdict (good, marginal, poor; moved once the check
// finds it moved), its figures, the calibration stored for it before, where its image has seen the
// plate, and whether it still stands where its calibration put it, with "Fix" when it moved.
Column {
    id: qualitySection
    property RightBarViewModel viewModel: null
    width: parent ? parent.width : 298
    spacing: 4
    readonly property var noCoverage: new Array(48).fill(0)

    function verdictColour(verdict) {
        if (verdict === "good")
            return "#2E8B57"
        if (verdict === "marginal")
            return "#C8A000"
        if (verdict === "poor" || verdict === "moved")
            return "#B22222"
        return "#555555"
    }

    Text { text: "Calibration quality"; font.pixelSize: 14; font.bold: true; color: "white" }
    Text {
        width: parent.width
        wrapMode: Text.WordWrap
        font.pixelSize: 11
        color: "#BBBBBB"
        text: qualitySection.viewModel && qualitySection.viewModel.cameraQuality.length > 0
              ? "The squares: where each camera's image has seen the plate."
              : "No camera streams yet."
    }

    Repeater {
        model: qualitySection.viewModel ? qualitySection.viewModel.cameraQuality : []
        Column {
            width: qualitySection.width
            spacing: 2

            Row {
                spacing: 6
                Rectangle {
                    width: 64
                    height: 16
                    radius: 3
                    color: qualitySection.verdictColour(modelData.verdict)
                    Text {
                        anchors.centerIn: parent
                        text: modelData.verdict === "" ? "\u2013" : modelData.verdict
                        font.pixelSize: 11
                        color: "white"
                    }
                }
                Text {
                    width: qualitySection.width - 70
                    text: "Camera " + index + (modelData.name === "" ? "" : " (" + modelData.name + ")")
                    elide: Text.ElideMiddle
                    font.pixelSize: 11
                    font.bold: true
                    color: "white"
                }
            }
            // Every row keeps its height whatever it says, so that nothing in the bar moves while
            // registration runs: the plate's cells of the image (a column per eighth of its width,
            // a row per sixth of its height, brighter the more frames saw the plate there), and
            // beside them two lines for the figures and two for the calibration stored before.
            Row {
                spacing: 8
                Grid {
                    columns: 8
                    spacing: 1
                    Repeater {
                        model: modelData.coverage.length === 48 ? modelData.coverage : qualitySection.noCoverage
                        Rectangle {
                            width: 9
                            height: 8
                            color: modelData === 0 ? "#333333"
                                                   : Qt.rgba(0.2, 0.55 + 0.45 * Math.min(1, modelData / 10), 0.35, 1)
                        }
                    }
                }
                Column {
                    width: qualitySection.width - 8 * 10 - 8
                    Text {
                        width: parent.width
                        height: 28
                        wrapMode: Text.WordWrap
                        maximumLineCount: 2
                        elide: Text.ElideRight
                        font.pixelSize: 11
                        // Smaller rather than cut, in the two lines kept for it.
                        fontSizeMode: Text.Fit
                        minimumPixelSize: 8
                        color: "white"
                        text: modelData.line !== "" ? modelData.line : "Not registered yet."
                    }
                    Text {
                        width: parent.width
                        height: 28
                        wrapMode: Text.WordWrap
                        maximumLineCount: 2
                        elide: Text.ElideRight
                        font.pixelSize: 11
                        // Smaller rather than cut, in the two lines kept for it.
                        fontSizeMode: Text.Fit
                        minimumPixelSize: 8
                        color: "#BBBBBB"
                        text: modelData.loaded
                    }
                }
            }
            // The moved-camera check's line, in a line of its own kept whatever it says.
            Row {
                spacing: 4
                height: 18
                Text {
                    anchors.verticalCenter: parent.verticalCenter
                    width: qualitySection.width - (fixButton.visible ? fixButton.width + 4 : 0)
                    elide: Text.ElideRight
                    font.pixelSize: 11
                    fontSizeMode: Text.HorizontalFit
                    minimumPixelSize: 9
                    color: modelData.moved ? "#FF8080" : modelData.check === "in place" ? "#8FD19E" : "#BBBBBB"
                    text: modelData.check
                }
                Button {
                    id: fixButton
                    visible: modelData.fixable
                    width: 44
                    height: 18
                    onClicked: qualitySection.viewModel.fixMovedCamera(modelData.configPath)
                    contentItem: Text {
                        text: "Fix"
                        font.pixelSize: 11
                        color: "white"
                        horizontalAlignment: Text.AlignHCenter
                        verticalAlignment: Text.AlignVCenter
                    }
                    background: Rectangle { color: "#D2691E" }
                }
            }
        }
    }
}
