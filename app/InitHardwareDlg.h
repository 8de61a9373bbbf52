#pragma once

#include <QDialog>

#include <cstdint>
#include <memory>

namespace Ui {
class CInitHardwareDlg;
}

namespace tessor {

// "Initialize Hardware": which COM port the board is cabled to; the crystal is fixed at 25.00 MHz.
// OK only; Escape and the close box cancel.
class CInitHardwareDlg : public QDialog {
    Q_OBJECT
public:
    explicit CInitHardwareDlg(QWidget* parent = nullptr);
    ~CInitHardwareDlg() override;

    // Selects the lists from the members; call before showing.
    void OnInitDialog();

    std::uint8_t m_portIndex = 0;
    std::uint8_t m_crystalIndex = 2;

    Ui::CInitHardwareDlg* Form() const { return m_ui.get(); }

public slots:
    void accept() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::unique_ptr<Ui::CInitHardwareDlg> m_ui;
};

} // namespace tessor
