#include "hostlist/frmedit.h"

#include "controls/cmdbtn/cmdbtn.h"
#include "controls/cmdbtn/colors.h"
#include "controls/cmdbtn/propertybag.h"
#include "hostlist/hostlistfile.h"
#include "platform/imagelist.h"
#include "platform/messagebox.h"
#include "platform/twips.h"
#include "resources/artwork.h"

#include <arpa/inet.h>

#include <QButtonGroup>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QToolButton>
#include <QValidator>
#include <algorithm>

namespace {

constexpr qint32 RaisedFrame = 2;
constexpr int ButtonWidthTwips = 1335;
constexpr int ButtonHeightTwips = 375;
constexpr int TypePictureSize = 16;
// Where the text boxes and option buttons start; the labels sit left of it.
constexpr int BoxColumnTwips = 960;

using platform::toHimetric;
using platform::twipsRect;

// The size the twips were measured for, and the largest desktop font the form still shows at
// that size; above it the form takes the desktop's size and grows with it.
constexpr qreal LayoutPointSize = 8.25;
constexpr qreal RoomyPointSize = 10.0;

qreal formPointSize()
{
    const qreal desktop = QGuiApplication::font().pointSizeF();
    return desktop > RoomyPointSize ? desktop : LayoutPointSize;
}

// The form's font: the application's family, at formPointSize().
QFont formFont()
{
    QFont font(QGuiApplication::font().family());
    font.setPointSizeF(formPointSize());
    font.setWeight(QFont::Normal);
    font.setStyle(QFont::StyleNormal);
    return font;
}

PropertyBag buttonState(const QString& caption)
{
    PropertyBag bag;
    bag.write(QStringLiteral("Caption"), caption);
    bag.write(QStringLiteral("BrdMode"), RaisedFrame);
    bag.write(QStringLiteral("TextColor"), cmdbtn::syscolor::MenuText);
    bag.write(QStringLiteral("Font"), formFont().toString());
    bag.write(QStringLiteral("_extentx"), toHimetric(ButtonWidthTwips));
    bag.write(QStringLiteral("_extenty"), toHimetric(ButtonHeightTwips));
    return bag;
}

// Characters a box never takes: a typed one is dropped, pasted text arrives without them.
// A line break in either box would split the entry over two lines of the file, and a "|" in a
// name would end it when the line is read back and push the rest into the address.
class DropCharsValidator : public QValidator
{
public:
    DropCharsValidator(QString dropped, QObject* parent) : QValidator(parent), m_dropped(std::move(dropped)) {}

    State validate(QString& input, int& pos) const override
    {
        const auto drop = [this](QChar c) { return m_dropped.contains(c); };
        if (std::none_of(input.cbegin(), input.cend(), drop))
            return Acceptable;
        const qsizetype before = std::clamp<qsizetype>(pos, 0, input.size());
        pos -= static_cast<int>(std::count_if(input.cbegin(), input.cbegin() + before, drop));
        input.removeIf(drop);
        return Acceptable;
    }

private:
    QString m_dropped;
};

// The address box: host names and IPv6 addresses up to the box's length, but what reads as an
// IPv4 address (the digits and dots people type, or any form the probe takes as IPv4) no longer
// than an IPv4 address can be.
class AddressValidator : public DropCharsValidator
{
public:
    using DropCharsValidator::DropCharsValidator;

    State validate(QString& input, int& pos) const override
    {
        const State state = DropCharsValidator::validate(input, pos);
        if (state == Acceptable && input.size() > frmEdit::Ipv4MaxLength && readsAsIpv4(input))
            return Invalid;
        return state;
    }

private:
    static bool readsAsIpv4(const QString& text)
    {
        const bool digitsAndDots =
            std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c == QLatin1Char('.') || c.isDigit(); });
        if (digitsAndDots)
            return true;
        in_addr address{};
        const QByteArray bytes = text.toUtf8();
        return !bytes.contains('\0') && ::inet_aton(bytes.constData(), &address) != 0;
    }
};

// A value loaded from the list is shown whole, even when it is longer than what may be typed or
// holds a "|": cutting it would show the entry as something it is not. The box then takes typing
// up to that length.
void setTextAsIs(QLineEdit* box, const QString& text, int limit)
{
    const QValidator* validator = box->validator();
    box->setValidator(nullptr);
    box->setMaxLength(std::max(limit, static_cast<int>(text.size())));
    box->setText(text);
    box->setValidator(validator);
}

QPointer<frmEdit>& openDialog()
{
    static QPointer<frmEdit> dialog;
    return dialog;
}

// There is one entry dialog at a time; asking again brings the open one forward.
bool raiseOpenDialog()
{
    frmEdit* open = openDialog();
    if (!open)
        return false;
    open->raise();
    open->activateWindow();
    return true;
}

} // namespace

frmEdit::frmEdit(const Services& services, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_services(services)
{
    setObjectName(QStringLiteral("frmEdit"));
    setFixedSize(platform::toPixels(ClientWidthTwips), platform::toPixels(ClientHeightTwips));
    setFont(formFont());

    // Created in tab order, which is also the focus chain.
    const auto label = [this](int index, const QString& text, QRect geometry, bool twoLines = false) {
        auto* lbl = new QLabel(text, this);
        lbl->setObjectName(QStringLiteral("lbl%1").arg(index));
        lbl->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        lbl->setWordWrap(twoLines);
        // The twips were measured for a narrower font than most desktops have: each label takes
        // the room up to the boxes, and the height its text needs there, so no colon is cut off.
        const int room = platform::toPixels(BoxColumnTwips) - geometry.left();
        geometry.setWidth(room);
        geometry.setHeight(std::max(geometry.height(), lbl->heightForWidth(room)));
        lbl->setGeometry(geometry);
        m_lbl[static_cast<std::size_t>(index)] = lbl;
        return lbl;
    };

    label(0, QStringLiteral("Name:"), twipsRect(120, 120, 465, 195));
    txtName = new QLineEdit(this);
    txtName->setObjectName(QStringLiteral("txtName"));
    txtName->setGeometry(twipsRect(960, 120, 2775, 285));
    txtName->setMaxLength(NameMaxLength);
    txtName->setValidator(new DropCharsValidator(QStringLiteral("|\r\n"), txtName));

    label(1, QStringLiteral("IP Adress:"), twipsRect(120, 480, 720, 195));
    txtIP = new QLineEdit(this);
    txtIP->setObjectName(QStringLiteral("txtIP"));
    txtIP->setGeometry(twipsRect(960, 480, 1575, 285));
    txtIP->setMaxLength(AddressMaxLength);
    txtIP->setValidator(new AddressValidator(QStringLiteral("\r\n"), txtIP));

    label(2, QStringLiteral("Type (icon):"), twipsRect(120, 960, 480, 390), true);
    m_types = new QButtonGroup(this);
    const QString typeNames[] = {QStringLiteral("Server"), QStringLiteral("PC"), QStringLiteral("Unknown")};
    for (int i = 1; i <= 3; ++i) {
        auto* option = new QToolButton(this);
        option->setObjectName(QStringLiteral("optType%1").arg(i));
        option->setGeometry(twipsRect(960 + 480 * (i - 1), 960, 495, 435));
        option->setCheckable(true);
        option->setToolButtonStyle(Qt::ToolButtonIconOnly);
        option->setIconSize(QSize(TypePictureSize, TypePictureSize));
        // The picture is all the user sees; a screen reader gets the word.
        option->setAccessibleName(typeNames[i - 1]);
        m_types->addButton(option, i);
        m_optType[static_cast<std::size_t>(i - 1)] = option;
    }
    selectType(3);

    const auto button = [this](const QString& name, const PropertyBag& state, int leftTwips) {
        auto* btn = new CmdBtn(this);
        btn->setObjectName(name);
        btn->readExtent(state);
        btn->ReadState(state);
        btn->move(twipsRect(leftTwips, 1560, 0, 0).topLeft());
        return btn;
    };
    cmdOk = button(QStringLiteral("cmdOk"), okButtonState(), 960);
    CancelButton = button(QStringLiteral("CancelButton"), cancelButtonState(), 2400);
    connect(cmdOk, &CmdBtn::Click, this, &frmEdit::cmdOk_Click);
    connect(CancelButton, &CmdBtn::Click, this, &frmEdit::CancelButton_Click);

    // A large desktop font would clip the labels, boxes and buttons laid out in fixed twips:
    // everything grows by as much as the font outgrows the room the layout leaves.
    if (const qreal f = formPointSize() / LayoutPointSize; f > 1.0) {
        const auto grow = [f](int v) { return qRound(v * f); };
        for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            const QRect g = child->geometry();
            child->setGeometry(grow(g.x()), grow(g.y()), grow(g.width()), grow(g.height()));
        }
        setFixedSize(grow(width()), grow(height()));
    }

    txtName->setFocus();
    Form_Load();
}

frmEdit::~frmEdit() = default;

std::optional<hostlist::KeyedHostLine> frmEdit::showInsert(QWidget* owner, const Services& services)
{
    if (raiseOpenDialog())
        return std::nullopt;
    QPointer<frmEdit> dialog = new frmEdit(services, owner);
    openDialog() = dialog;
    dialog->prepareInsert();
    dialog->exec();
    // The owner may have gone, and the dialog with it, while the dialog was open.
    std::optional<hostlist::KeyedHostLine> written;
    if (dialog)
        written = dialog->written();
    delete dialog.data();
    return written;
}

std::optional<hostlist::HostLine> frmEdit::showEdit(QWidget* owner, const Services& services, const QString& name,
                                                    const QString& address, int type, hostlist::EntryKey key)
{
    if (raiseOpenDialog())
        return std::nullopt;
    QPointer<frmEdit> dialog = new frmEdit(services, owner);
    openDialog() = dialog;
    dialog->prepareEdit(name, address, type, key);
    dialog->exec();
    std::optional<hostlist::HostLine> stored;
    if (dialog)
        stored = dialog->stored();
    delete dialog.data();
    return stored;
}

void frmEdit::prepareInsert()
{
    setTag(QStringLiteral("insert"));
    setWindowTitle(QStringLiteral("Insert new item"));
}

void frmEdit::prepareEdit(const QString& name, const QString& address, int type, hostlist::EntryKey key)
{
    setTag(QStringLiteral("edit"));
    m_key = key;
    setTextAsIs(txtName, name, NameMaxLength);
    setTextAsIs(txtIP, address, AddressMaxLength);
    selectType(type);
    setWindowTitle(txtName->text() + QStringLiteral(" properties"));
}

int frmEdit::selectedType() const
{
    return std::max(m_types->checkedId(), 0);
}

void frmEdit::selectType(int type)
{
    if (type >= 1 && type <= 3) {
        optType(type)->setChecked(true);
        return;
    }
    // An entry of type 0 has no icon, and none of the three may pretend to be it.
    m_types->setExclusive(false);
    for (QAbstractButton* option : m_types->buttons())
        option->setChecked(false);
    m_types->setExclusive(true);
}

void frmEdit::Form_Load()
{
    for (int i = 1; i <= 3; ++i)
        optType(i)->setIcon(m_services.images ? m_services.images->picture(i) : artwork::listIcon(i));
}

std::optional<hostlist::HostLine> frmEdit::typedEntry()
{
    // Spaces around a pasted address are no part of it.
    const QString address = txtIP->text().trimmed();
    const QString problem = hostlist::addressProblem(address);
    if (!problem.isEmpty()) {
        const QString field = lbl(1)->text().remove(u'&').remove(u':');
        m_services.messages.show(QStringLiteral("%1: %2").arg(field, problem), platform::MsgExclamation,
                                 m_services.title);
        txtIP->setFocus();
        txtIP->selectAll();
        return std::nullopt;
    }
    return hostlist::HostLine{selectedType(), txtName->text(), address};
}

void frmEdit::cmdOk_Click()
{
    const bool insert = m_tag == QStringLiteral("insert");
    if (!insert && m_tag != QStringLiteral("edit")) {
        m_services.messages.show(m_tag, platform::MsgOkOnly, m_services.title);
        accept();
        return;
    }
    const std::optional<hostlist::HostLine> entry = typedEntry();
    if (!entry)
        return;
    hostlist::HostListFile own(m_services.listPath);
    hostlist::HostListFile& file = m_services.file ? *m_services.file : own;
    try {
        if (insert) {
            m_written = hostlist::KeyedHostLine{file.append(*entry), *entry};
            m_appended = true;
        } else {
            file.replace(m_key, *entry);
            m_stored = *entry;
        }
    } catch (const hostlist::HostListError& e) {
        // The dialog stays as it is, so nothing typed is lost and the user can try again.
        m_services.messages.show(e.message(), platform::MsgExclamation, m_services.title);
        return;
    }
    accept();
}

void frmEdit::CancelButton_Click()
{
    reject();
}

PropertyBag frmEdit::okButtonState()
{
    return buttonState(QStringLiteral("OK"));
}

PropertyBag frmEdit::cancelButtonState()
{
    return buttonState(QStringLiteral("Cancel"));
}

void frmEdit::keyPressEvent(QKeyEvent* event)
{
    // There is no default push button to take Enter, so the dialog maps it to OK itself. Escape
    // reaches reject() through QDialog.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        cmdOk_Click();
        return;
    }
    QDialog::keyPressEvent(event);
}
