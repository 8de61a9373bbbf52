#include "app/AboutBox.h"

#include "VersionInfo.h"
#include "ui_AboutBox.h"

#include <QPainter>
#include <QPixmap>

// Resources compiled into this static library must be registered by hand.
static void InitAboutResources() {
    Q_INIT_RESOURCE(about);
}

namespace tessor {

namespace {

const char* const kBitmap = ":/about/about.png";

} // namespace

const char* const CAboutBox::kCaption = "About ";

CVersionRecord CVersionRecord::Compiled() {
    return CVersionRecord({
        {QStringLiteral("ProductName"), QString::fromUtf8(version::kProductName)},
        {QStringLiteral("LegalCopyright"), QString::fromUtf8(version::kLegalCopyright)},
        {QStringLiteral("FileVersion"), QString::fromUtf8(version::kFileVersion)},
        {QStringLiteral("ProductVersion"), QString::fromUtf8(version::kProductVersion)},
        {QStringLiteral("CompanyName"), QString::fromUtf8(version::kCompanyName)},
    });
}

QString CVersionRecord::Query(const QString& name) const {
    const auto found = m_values.find(name);
    return found == m_values.end() ? QString() : found->second;
}

CAboutBox::CAboutBox(QWidget* parent, CVersionRecord record)
    : QDialog(parent), m_ui(std::make_unique<Ui::AboutBox>()), m_record(std::move(record)) {
    InitAboutResources();
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(kWidth, kHeight);
}

CAboutBox::~CAboutBox() = default;

void CAboutBox::PrependCompanyText(const QString& text) {
    m_companyBlock.prepend(text);
}

void CAboutBox::OnInitDialog() {
    m_ui->smallField->setText(m_smallField);
    setWindowTitle(QString::fromLatin1(kCaption));
    m_versionText = QStringLiteral("Version: ") + m_record.Query(QStringLiteral("FileVersion"));
    m_productIdText = QStringLiteral("Product ID: ") + m_record.Query(QStringLiteral("ProductVersion"));
    m_ui->versionText->setText(m_versionText);
    m_ui->productIdText->setText(m_productIdText);
    m_ui->productName->setText(m_record.Query(QStringLiteral("ProductName")));
    m_ui->legalCopyright->setText(m_record.Query(QStringLiteral("LegalCopyright")));
    m_ui->boardIdText->setText(m_boardIdentification);
    m_ui->companyBlock->setText(m_companyBlock);
}

void CAboutBox::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    // The bitmap stretched over the whole client area; the labels draw on top of it.
    const QPixmap bitmap(QString::fromLatin1(kBitmap));
    QPainter painter(this);
    painter.drawPixmap(rect(), bitmap, bitmap.rect());
}

} // namespace tessor
