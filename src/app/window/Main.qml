import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Corvane.Window

ApplicationWindow {
    id: root

    required property ReceiverBridge bridge
    required property string version

    property bool showingHelp: false
    property bool showingForgetConfirmation: false

    // Qt 6.4 cannot ask the desktop for its colour scheme; the desktop palette follows it, so a
    // dark window background means a dark scheme.
    readonly property bool darkAppearance: desktopPalette.window.hslLightness < 0.5
    readonly property color accentColor: darkAppearance ? Qt.rgba(0.25, 0.72, 1.0, 1)
                                                        : Qt.rgba(0.01, 0.37, 0.75, 1)
    readonly property color runningColor: "#34c759"
    readonly property color secondaryColor: Qt.rgba(palette.windowText.r, palette.windowText.g,
                                                    palette.windowText.b, 0.62)

    // The named text styles, relative to the desktop's body font.
    readonly property real bodySize: Qt.application.font.pointSize > 0
                                     ? Qt.application.font.pointSize : 10
    readonly property real titleSize: bodySize * 1.6
    readonly property real title2Size: bodySize * 1.3
    readonly property real captionSize: Math.max(8, bodySize * 0.85)

    title: qsTr("Corvane Companion")
    visible: true
    // Grows when the content needs more room, never shrinks what the user chose.
    width: 560
    height: 250
    onMinimumWidthChanged: width = Math.max(width, minimumWidth)
    onMinimumHeightChanged: height = Math.max(height, minimumHeight)
    Component.onCompleted: {
        width = Math.max(width, minimumWidth);
        height = minimumHeight;
    }
    minimumWidth: Math.max(440, content.implicitWidth + 2 * content.anchors.margins)
    minimumHeight: Math.max(250, content.implicitHeight + 2 * content.anchors.margins)
    palette.highlight: accentColor

    onShowingForgetConfirmationChanged: showingForgetConfirmation ? forgetDialog.open()
                                                                  : forgetDialog.close()

    SystemPalette {
        id: desktopPalette
    }

    component Notice: Label {
        visible: text !== ""
        wrapMode: Text.Wrap
        font.pointSize: root.captionSize
        color: root.darkAppearance ? "#ffb340" : "#a05a00"
        Layout.fillWidth: true
    }

    ColumnLayout {
        id: content

        anchors.left: parent.left
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        anchors.margins: 24
        spacing: 18

        RowLayout {
            spacing: 14

            RoundedImage {
                objectName: "mark"
                source: "qrc:/corvane/Mark.png"
                radius: 13
                visible: loaded
                Layout.preferredWidth: 58
                Layout.preferredHeight: 58
                Accessible.ignored: true
            }

            ColumnLayout {
                spacing: 3

                Label {
                    text: qsTr("Corvane")
                    font.pointSize: root.title2Size
                    font.bold: true
                }
                Label {
                    text: qsTr("Made by the Corvane project")
                    font.pointSize: root.captionSize
                    color: root.secondaryColor
                }
            }
        }

        Rectangle {
            objectName: "statusCard"
            Layout.fillWidth: true
            implicitWidth: statusRow.implicitWidth + 24
            implicitHeight: statusRow.implicitHeight + 24
            radius: 12
            color: Qt.rgba(palette.windowText.r, palette.windowText.g, palette.windowText.b, 0.07)
            border.color: Qt.rgba(palette.windowText.r, palette.windowText.g, palette.windowText.b,
                                  0.08)

            RowLayout {
                id: statusRow

                anchors.fill: parent
                anchors.margins: 12
                spacing: 8

                Rectangle {
                    objectName: "statusDot"
                    implicitWidth: 8
                    implicitHeight: 8
                    radius: 4
                    color: root.bridge.isRunning ? root.runningColor : root.accentColor
                }
                Label {
                    objectName: "receiverStatus"
                    text: root.bridge.status
                    font.pointSize: root.bodySize
                    Layout.fillWidth: true
                }
            }
        }

        Label {
            objectName: "bluetoothStatus"
            visible: root.bridge.isRunning
            text: root.bridge.bluetoothStatus
            font.pointSize: root.captionSize
            color: root.secondaryColor
        }

        // What keeps phones from pairing or finding this computer, and where pairings went when
        // no keyring answered; each only while it has something to say.
        Notice {
            objectName: "pairingStatus"
            text: root.bridge.pairingStatus
            visible: root.bridge.isRunning && text !== ""
        }
        Notice {
            objectName: "publishingStatus"
            text: root.bridge.publishingStatus
            visible: root.bridge.isRunning && text !== ""
        }
        Notice {
            objectName: "storageStatus"
            text: root.bridge.storageStatus
        }

        RowLayout {
            visible: root.bridge.isRunning

            Label {
                text: qsTr("Pairing code")
                font.pointSize: root.bodySize
            }
            TextEdit {
                objectName: "pairingCode"
                text: root.bridge.code
                readOnly: true
                selectByMouse: true
                // Every digit as wide as the others, so the code does not shift as it changes.
                font.family: "monospace"
                font.pointSize: root.titleSize
                font.bold: true
                color: root.palette.windowText
                selectionColor: root.accentColor
                selectedTextColor: "white"
            }
        }

        Label {
            visible: root.bridge.isRunning
            text: qsTr("Enter this code on your iPhone or iPad. One device can control this Mac at a time.")
            font.pointSize: root.bodySize
            color: root.secondaryColor
        }

        RowLayout {
            Button {
                objectName: "startStopButton"
                text: root.bridge.isRunning ? qsTr("Stop Receiver") : qsTr("Start Receiver")
                onClicked: root.bridge.toggleRunning()
            }
            Button {
                objectName: "requestAccessibilityButton"
                visible: !root.bridge.hasAccessibility
                text: qsTr("Request Accessibility")
                onClicked: root.bridge.requestAccessibility()
            }
            Button {
                objectName: "forgetButton"
                text: qsTr("Forget Paired Devices")
                onClicked: root.showingForgetConfirmation = true
            }
            Item {
                Layout.fillWidth: true
            }
            Button {
                objectName: "helpButton"
                text: qsTr("Help")
                onClicked: root.showingHelp = true
            }
        }
    }

    Dialog {
        id: forgetDialog

        objectName: "forgetDialog"
        title: qsTr("Forget every paired iPhone and iPad?")
        modal: true
        anchors.centerIn: Overlay.overlay
        width: Math.min(root.width - 48, 420)
        onClosed: root.showingForgetConfirmation = false

        Label {
            width: parent.width
            text: qsTr("Devices will need the Mac's pairing code again.")
            wrapMode: Text.Wrap
        }

        footer: DialogButtonBox {
            Button {
                objectName: "forgetCancelButton"
                text: qsTr("Cancel")
                DialogButtonBox.buttonRole: DialogButtonBox.RejectRole
            }
            Button {
                objectName: "forgetConfirmButton"
                text: qsTr("Forget Paired Devices")
                palette.buttonText: root.darkAppearance ? "#ff6961" : "#c4261d"
                DialogButtonBox.buttonRole: DialogButtonBox.DestructiveRole
                onClicked: {
                    forgetDialog.close();
                    root.bridge.forgetPairedDevices();
                }
            }
        }
    }

    HelpSheet {
        id: helpSheet

        objectName: "helpSheet"
        transientParent: root
        // Bound rather than shown imperatively: Qt applies a child window's declared visibility
        // once its parent is shown, which would undo an early show().
        visible: root.showingHelp
        version: root.version
        credit: qsTr("Made by the Corvane project")
        accentColor: root.accentColor
        bodySize: root.bodySize
        onClosing: root.showingHelp = false
    }
}
