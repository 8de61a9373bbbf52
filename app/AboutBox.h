#pragma once

#include <QDialog>
#include <QString>

#include <map>
#include <memory>

namespace Ui {
class AboutBox;
}

namespace tessor {

// The program's version record: named text values compiled in from the build, looked up by name the way
// a version resource's string table is ("ProductName", "LegalCopyright", "FileVersion", ...).
class CVersionRecord {
public:
    // The record of this build.
    static CVersionRecord Compiled();

    CVersionRecord() = default;
    explicit CVersionRecord(std::map<QString, QString> values) : m_values(std::move(values)) {}

    // The value of that name; empty when the record holds none.
    QString Query(const QString& name) const;

private:
    std::map<QString, QString> m_values;
};

// The About box: product name and legal notice from the version record, the tool's version, the board's
// identification and the maker's block, standing transparent on the product bitmap that fills the window.
class CAboutBox : public QDialog {
    Q_OBJECT
public:
    static const char* const kCaption; // "About "
    static constexpr int kWidth = 581; // the bitmap's size, which is the window's client size
    static constexpr int kHeight = 249;

    explicit CAboutBox(QWidget* parent = nullptr, CVersionRecord record = CVersionRecord::Compiled());
    ~CAboutBox() override;

    // Puts text at the front of the company block.
    void PrependCompanyText(const QString& text);
    const QString& CompanyBlock() const { return m_companyBlock; }

    // The identification read from the local modem when the box was opened.
    void SetBoardIdentification(const QString& text) { m_boardIdentification = text; }

    // Fills the fields from the version record and the prepared texts; run once, before showing.
    void OnInitDialog();

    // The texts prepared by OnInitDialog.
    const QString& VersionText() const { return m_versionText; }
    const QString& ProductIdText() const { return m_productIdText; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::unique_ptr<Ui::AboutBox> m_ui;
    QString m_smallField = QStringLiteral(" ");
    QString m_companyBlock;
    QString m_boardIdentification;
    QString m_versionText;
    QString m_productIdText;
    CVersionRecord m_record;
};

} // namespace tessor
