import QtQuick 2.14
import QtQuick.Controls 2.14
import QtQuick.Window 2.14
import QMLTavorin 1.0

ApplicationWindow {
    id: widgetWindow
    width: 1280
    height: 720
    title: "OR Tavorin"

    GLRectangle {
        anchors.fill: parent
    }
}
