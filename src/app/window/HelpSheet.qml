import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

ApplicationWindow {
    id: sheet

    property string version
    property string credit
    property color accentColor: palette.highlight
    property real bodySize: 10

    readonly property string shownVersion: version.length > 0 ? version : "Beta"
    readonly property color secondaryColor: Qt.rgba(palette.windowText.r, palette.windowText.g,
                                                    palette.windowText.b, 0.62)

    // One section: a heading over its body.
    component HelpSection: ColumnLayout {
        property alias heading: headingLabel.text
        property alias body: bodyLabel.text

        spacing: 4
        Layout.fillWidth: true

        Label {
            id: headingLabel
            font.pointSize: sheet.bodySize
            font.bold: true
        }
        Label {
            id: bodyLabel
            font.pointSize: sheet.bodySize
            color: sheet.secondaryColor
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
    }

    title: qsTr("Corvane Companion Help")
    flags: Qt.Dialog
    modality: Qt.WindowModal
    width: 560
    height: page.implicitHeight + 2 * page.anchors.margins
    minimumWidth: width
    maximumWidth: width
    minimumHeight: height
    maximumHeight: height
    palette.highlight: accentColor

    ColumnLayout {
        id: page

        anchors.fill: parent
        anchors.margins: 24
        spacing: 16

        Label {
            text: qsTr("Corvane Companion Help")
            font.pointSize: sheet.bodySize * 1.3
            font.bold: true
        }

        HelpSection {
            heading: qsTr("Setup")
            body: qsTr("Open this app on the Mac you want to control. Grant Accessibility in System Settings, then choose Start Receiver. Keep the receiver in the foreground while pairing.")
        }
        HelpSection {
            heading: qsTr("Pairing")
            body: qsTr("On your iPhone or iPad, choose Wi-Fi, Bluetooth, or USB network, select this Mac, and enter the six-digit code shown here. The device saves this Mac after the first pairing and can reconnect without a new code. Use Forget Paired Devices to revoke all saved devices. One device can control this Mac at a time.")
        }
        HelpSection {
            heading: qsTr("Connections")
            body: qsTr("Wi-Fi and USB network require a reachable local network. USB network needs a network interface supplied by iOS or iPadOS; a plain USB-C cable without one is unsupported. Bluetooth uses the app's custom Low Energy link.")
        }
        HelpSection {
            heading: qsTr("If input does not work")
            body: qsTr("Confirm Accessibility remains granted. Stop and restart the receiver after a permission change, sleep, or a failed connection. Disconnect the touch device before changing connectors.")
        }
        HelpSection {
            heading: qsTr("Beta safety")
            body: qsTr("Use trusted networks. Wi-Fi and USB network messages are not encrypted in this beta. Check gesture and studio shortcut behavior before using the companion in a live session.")
        }

        RowLayout {
            Layout.fillWidth: true

            Label {
                objectName: "versionLine"
                text: qsTr("Corvane %1 · %2").arg(sheet.shownVersion).arg(sheet.credit)
                font.pointSize: Math.max(8, sheet.bodySize * 0.9)
                color: sheet.secondaryColor
            }
            Item {
                Layout.fillWidth: true
            }
            Button {
                objectName: "doneButton"
                text: qsTr("Done")
                onClicked: sheet.close()
            }
        }
    }
}
