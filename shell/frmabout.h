#pragma once

#include "platform/appinfo.h"

#include <QColor>
#include <QDialog>
#include <QLine>
#include <QString>
#include <array>

class CmdBtn;
class QLabel;
class QPlainTextEdit;
class PropertyBag;

// The about box: the program's logo, name, version and legal texts, and an OK button.
//
// It is built for one opening only. The texts come from the AppInfo given at construction, so a
// dialog made for the next opening always shows the current values.
class frmAbout : public QDialog
{
    Q_OBJECT

public:
    // Client area in twips; the window is fixed at this size.
    static constexpr int ClientWidthTwips = 5985;
    static constexpr int ClientHeightTwips = 3195;

    frmAbout(const platform::AppInfo& app, QWidget* owner);
    ~frmAbout() override;

    // Opens a dialog over `owner`, waits until it is closed and destroys it.
    static void showModal(const platform::AppInfo& app, QWidget* owner);

    // Puts the dialog's client area in the middle of the owner's window, kept on the owner's screen.
    void centreOverOwner();

    // The description exactly as it was built, CR LF line breaks included.
    QString descriptionText() const { return m_description; }

    // The state the OK button is loaded from.
    static PropertyBag okButtonState();

    // The control array Line1: a dark and a light line under the texts that together read as an
    // engraved rule. They have no window; the dialog paints them.
    struct RuleLine
    {
        int index;
        QLine twips; // client coordinates; the end point is not drawn
        QColor colour;
        int width; // pixels; a wide line centres on its coordinate, the extra row above it
    };
    static const std::array<RuleLine, 2>& Line1();

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void Form_Load();
    void cmdOK_Click();
    // A rectangle given in twips, in pixels grown with the desktop font.
    QRect scaled(int left, int top, int width, int height) const;
    void fitDescription();

    platform::AppInfo m_app;
    qreal m_scale = 1.0;
    int m_extraHeight = 0; // pixels the description box grew by
    bool m_fitted = false;
    QString m_description;

    QWidget* m_picIcon;
    QLabel* m_lblTitle;
    QLabel* m_lblVersion;
    QPlainTextEdit* m_txtDescr;
    CmdBtn* m_cmdOK;
};
