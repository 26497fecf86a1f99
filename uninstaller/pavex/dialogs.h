#pragma once
// Pavex modal dialogs: a frameless dialog with a draggable caption, a content area and a bottom bar
// holding a confirm and a cancel button.
//
// Object names (stable, for style sheets, tests and window tools): the dialog "pavexTipDialog",
// caption "pavexCaptionLabel", caption close button "pavexCloseBtn", content "pavexContentLabel",
// icon "pavexIconLabel", buttons "pavexConfirmBtn" (the default button) and "pavexCancelBtn".
// The window title is the caption, so that window tools can find a dialog by it.
#include <QDialog>
#include <QStringList>

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace Pavex {

class CFancyTitle;

class CBaseDialogWithBottom : public QDialog {
    Q_OBJECT
public:
    explicit CBaseDialogWithBottom(QWidget* parent = nullptr);

    void SetYesAndNoText(const QString& confirm, const QString& cancel);
    // The confirm button, for callers that restyle it.
    QPushButton* GetConfirmBtn() const { return m_confirm; }
    QPushButton* GetCancelBtn() const { return m_cancel; }

protected:
    void setCaption(const QString& caption);
    QVBoxLayout* contentLayout() const { return m_content; }

private:
    CFancyTitle* m_title;
    QLabel* m_caption;
    QVBoxLayout* m_content;
    QPushButton* m_confirm;
    QPushButton* m_cancel;
};

class CModalTipDialog : public CBaseDialogWithBottom {
    Q_OBJECT
public:
    // Dialog models: the caption, the icon and which buttons show.
    enum Model {
        ModelMessage = 0,  // caption "Message", information icon, OK only
        ModelSuccess = 1,  // caption "Success", OK only
        ModelError = 2,    // caption "Error", OK only
        ModelConfirm = 3,  // caption "Message", question, confirm and cancel
        ModelWarning = 4,  // caption "Warning", OK only
    };
    // Dialog sizes: 0 small (400 x 200), 1 large (480 x 240).
    enum Size { SizeSmall = 0, SizeLarge = 1 };
    // Index of each text in the list given to setConstStrings.
    enum ConstString { StrOK, StrCancel, StrClose, StrSuccess, StrError, StrWarning, StrMessage, StrCount };

    explicit CModalTipDialog(QWidget* parent = nullptr);

    void setDialogModel(int model);
    void setContentText(const QString& text);
    void setDialogSize(int size);

    // The seven texts the library's own dialogs show: "OK", "Cancel", "Close", "Success", "Error",
    // "Warning", "Message", in this order. A shorter list keeps the defaults for the missing ones.
    static void setConstStrings(const QStringList& texts);
    static QString constString(ConstString which);

    // Modal warning with an OK button; returns the dialog's result.
    static int ShowMessageWarn(const QString& text, int size, QWidget* parent);
    // Modal tip of the given model; returns the dialog's result (non-zero when confirmed).
    static int ShowModalTipDialog(const QString& text, int model, int size, QWidget* parent);

private:
    QLabel* m_icon;
    QLabel* m_text;
};

}  // namespace Pavex
