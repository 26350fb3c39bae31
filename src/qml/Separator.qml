import QtQuick 2.14
import QtQuick.Controls 2.14

Column {
    width: parent ? parent.width : 0

    Rectangle { width: parent.width; height: 4; color: "transparent" }
    Rectangle { width: parent.width; height: 1; color: "#444444" }
    Rectangle { width: parent.width; height: 4; color: "transparent" }
}
