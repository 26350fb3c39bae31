import QtQuick 2.14
import QtQuick.Controls 2.14
import QtQuick.Window 2.14
import QMLTavorin 1.0

ScrollView {
    id: tubusOptionsView
    property RightBarViewModel viewModel: null

    function degrees(value) { return Math.round(value * 1800 / Math.PI) / 10 + "°" }

    Column {
        width: 310

        Text { text: "Einstellungen des Tubus"; font.pixelSize: 14; font.bold: true; color: "white" }
        Separator {}
        Text {
            width: parent.width
            wrapMode: Text.WordWrap
            font.pixelSize: 12
            color: "#BBBBBB"
            text: "Diese Einstellungen sind nur ein Ersatz, bis die Sprach- und Gestensteuerung verfügbar ist."
        }
        Separator {}
        ValueRow {
            pName: "X-Position: "
            pStepSize: 0.02
            pGetValue: function() { return viewModel.tubusPositionX }
            pSetValue: function(slider) { return function() { viewModel.tubusPositionX = slider.value } }
        }
        ValueRow {
            pName: "Y-Position: "
            pFrom: 0
            pTo: 2
            pGetValue: function() { return viewModel.tubusPositionY }
            pSetValue: function(slider) { return function() { viewModel.tubusPositionY = slider.value } }
        }
        ValueRow {
            pName: "Z-Position: "
            pFrom: -0.3
            pTo: 0.3
            pGetValue: function() { return viewModel.tubusPositionZ }
            pSetValue: function(slider) { return function() { viewModel.tubusPositionZ = slider.value } }
        }
        ValueRow {
            pName: "X-Rotation: "
            pFrom: -Math.PI / 2
            pTo: Math.PI / 2
            pStepSize: Math.PI / 180
            pDisplay: tubusOptionsView.degrees
            pGetValue: function() { return viewModel.tubusRotationX }
            pSetValue: function(slider) { return function() { viewModel.tubusRotationX = slider.value } }
        }
        ValueRow {
            pName: "Y-Rotation: "
            pFrom: 0
            pTo: Math.PI
            pStepSize: Math.PI / 180
            pDisplay: tubusOptionsView.degrees
            pGetValue: function() { return viewModel.tubusRotationY }
            pSetValue: function(slider) { return function() { viewModel.tubusRotationY = slider.value } }
        }
        Text {
            width: parent.width
            wrapMode: Text.WordWrap
            font.pixelSize: 11
            color: "grey"
            text: "Die Y-Rotation hat lediglich einen Einfluss, wenn die X-Rotation ungleich 0 ist. "
        }
        ValueRow {
            pName: "Durchmesser: "
            pFrom: 0.05
            pTo: 1.0
            pGetValue: function() { return viewModel.tubusDiameter }
            pSetValue: function(slider) { return function() { viewModel.tubusDiameter = slider.value } }
        }
        ValueRow {
            pName: "Tiefe: "
            pFrom: 0
            pTo: 0.195
            pStepSize: 0.001
            pGetValue: function() { return viewModel.tubusDepth }
            pSetValue: function(slider) { return function() { viewModel.tubusDepth = slider.value } }
        }
    }
}
