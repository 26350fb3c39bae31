import QtQuick 2.0
import QtQuick.Controls 2.14

Column {
    id: valueRow
    width: parent ? parent.width : 298
    property string pName: "Name"
    property real pFrom: -1
    property real pTo: 1
    property real pStepSize: 0.01
    property var pDisplay: function(value) { return Math.round(value * 1000) / 1000 + "m" }
    property var pGetValue: function() { return 0 }
    property var pSetValue: function(slider) { return function() {} }

    Row {
        Text {
            text: valueRow.pName
            font.pixelSize: 14
            color: "white"
        }
        Text {
            text: valueRow.pDisplay(valueRow.pGetValue())
            font.pixelSize: 14
            font.bold: true
            color: "white"
        }
    }

    Row {
        Button {
            width: 20
            height: 20
            y: 10
            onClicked: slider.decrease()
            // A quick second click arrives as a double-click: it steps too.
            onDoubleClicked: slider.decrease()
            contentItem: Text {
                text: "<"
                color: "white"
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
            }
            background: Rectangle { color: "#666666" }
        }

        Slider {
            id: slider
            from: valueRow.pFrom
            to: valueRow.pTo
            stepSize: valueRow.pStepSize
            value: valueRow.pGetValue()
            width: valueRow.width - 40
            Component.onCompleted: slider.valueChanged.connect(valueRow.pSetValue(slider))
        }

        Button {
            width: 20
            height: 20
            y: 10
            onClicked: slider.increase()
            onDoubleClicked: slider.increase()
            contentItem: Text {
                text: ">"
                color: "white"
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
            }
            background: Rectangle { color: "#666666" }
        }
    }
}
