#include "hostlist/frmimport.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringDecoder>
#include <QTreeWidget>
#include <QVBoxLayout>

frmImport::frmImport(QVector<hostlist::HostLine> existing, QWidget* owner)
    : QDialog(owner), m_existing(std::move(existing))
{
    setObjectName(QStringLiteral("frmImport"));
    setWindowTitle(QStringLiteral("Import hosts"));
    auto* layout = new QVBoxLayout(this);

    auto* hint = new QLabel(QStringLiteral("One host a line: name and address, an address alone, or a line of "
                                           "list.txt. Paste them here or read a file."),
                            this);
    hint->setWordWrap(true);
    layout->addWidget(hint);

    txtHosts = new QPlainTextEdit(this);
    txtHosts->setObjectName(QStringLiteral("txtHosts"));
    txtHosts->setAccessibleName(QStringLiteral("Hosts to import"));
    txtHosts->setTabChangesFocus(true);
    hint->setBuddy(txtHosts);
    layout->addWidget(txtHosts, 1);

    cmdFile = new QPushButton(QStringLiteral("From &File\u2026"), this);
    cmdFile->setObjectName(QStringLiteral("cmdFile"));
    cmdFile->setAutoDefault(false);
    layout->addWidget(cmdFile, 0, Qt::AlignLeft);
    connect(cmdFile, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Import hosts from"));
        QString error;
        if (!path.isEmpty() && !loadFile(path, &error))
            lblSummary->setText(error);
    });

    lstPreview = new QTreeWidget(this);
    lstPreview->setObjectName(QStringLiteral("lstPreview"));
    lstPreview->setAccessibleName(QStringLiteral("What the import does"));
    lstPreview->setRootIsDecorated(false);
    lstPreview->setHeaderLabels(
        {QStringLiteral("Line"), QStringLiteral("Does"), QStringLiteral("Name"), QStringLiteral("Address or reason")});
    lstPreview->header()->setStretchLastSection(true);
    // A reason cut short by its column is read whole below the list, wrapped, for the current row.
    connect(lstPreview, &QTreeWidget::currentItemChanged, this, &frmImport::showSummary);
    layout->addWidget(lstPreview, 2);

    lblSummary = new QLabel(this);
    lblSummary->setObjectName(QStringLiteral("lblSummary"));
    lblSummary->setWordWrap(true);
    layout->addWidget(lblSummary);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    cmdOk = buttons->button(QDialogButtonBox::Ok);
    cmdOk->setObjectName(QStringLiteral("cmdOk"));
    cmdCancel = buttons->button(QDialogButtonBox::Cancel);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    connect(txtHosts, &QPlainTextEdit::textChanged, this, &frmImport::updatePreview);
    resize(fontMetrics().averageCharWidth() * 80, fontMetrics().height() * 30);
    updatePreview();
}

bool frmImport::loadFile(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1 could not be read: %2").arg(path, file.errorString());
        return false;
    }
    if (file.size() > hostlist::MaxFileBytes) {
        *error = QStringLiteral("%1 is too large to be a list of hosts.").arg(path);
        return false;
    }
    const QByteArray bytes = file.read(hostlist::MaxFileBytes);
    txtHosts->setPlainText(hostlist::isLegacyText(bytes) ? hostlist::decodeLegacy(bytes, {})
                                                         : QString::fromUtf8(bytes));
    return true;
}

void frmImport::updatePreview()
{
    QString text = txtHosts->toPlainText();
    text.replace(u'\r', u'\n');
    m_plan = hostlist::planImport(text, m_existing);
    lstPreview->clear();
    for (const hostlist::HostLine& host : m_plan.accepted)
        new QTreeWidgetItem(lstPreview, {QString(), QStringLiteral("add"), host.name, host.address});
    for (const hostlist::ImportPlan::Rejected& rejected : m_plan.rejected) {
        auto* item = new QTreeWidgetItem(
            lstPreview, {QString::number(rejected.line), QStringLiteral("skip"), rejected.text, rejected.why});
        item->setToolTip(3, rejected.why);
    }
    showSummary();
    cmdOk->setEnabled(!m_plan.accepted.isEmpty());
    cmdOk->setText(QStringLiteral("Add %1").arg(m_plan.accepted.size()));
}

void frmImport::showSummary()
{
    QString text = QStringLiteral("%1 to add, %2 left out.").arg(m_plan.accepted.size()).arg(m_plan.rejected.size());
    const QTreeWidgetItem* current = lstPreview->currentItem();
    if (current && current->text(1) == QLatin1String("skip"))
        text += QStringLiteral("\nLine %1: %2").arg(current->text(0), current->text(3));
    lblSummary->setText(text);
}
