#include "pages/PageEthernetStatus.h"

#include "link/ConsolePort.h"
#include "link/RegisterBus.h"
#include "pages/ActivityObserver.h"
#include "ui/Boxes.h"
#include "ui_PageEthernetStatus.h"

#include <QKeyEvent>

namespace tessor {

const char* const CPageEthernet_Status::kHelpPath = "Help/page_22.htm";

CPageEthernet_Status::CPageEthernet_Status(QWidget* parent)
    : CPropertyPage(parent), m_ui(std::make_unique<Ui::PageEthernetStatus>()) {
    m_ui->setupUi(this);
    SetHelpPath(QString::fromLatin1(kHelpPath));
    for (int i = 0; i < kCounterDefCount; ++i)
        m_fields[i] = findChild<QLineEdit*>(QString::fromLatin1(kCounterDefs[i].field));
    m_timer.setInterval(kRefreshMs);
    connect(&m_timer, &QTimer::timeout, this, &CPageEthernet_Status::OnTimer);
    connect(m_ui->buttonStartStop, &QPushButton::clicked, this, &CPageEthernet_Status::OnStartStop);
    connect(m_ui->buttonClear, &QPushButton::clicked, this, &CPageEthernet_Status::OnClear);
}

CPageEthernet_Status::~CPageEthernet_Status() = default;

void CPageEthernet_Status::OnSetActive() {
    m_bPolling.store(0);
    m_timer.stop();
    m_ui->buttonStartStop->setText(QStringLiteral("Start"));
    FormatCounters();
    TransferTexts();
    m_ui->buttonClear->setEnabled(true);
}

void CPageEthernet_Status::OnKillActive() {
    m_bPolling.store(0);
    m_timer.stop();
}

void CPageEthernet_Status::OnTimer() {
    TransferTexts();
    m_pollEvent.Set();
}

void CPageEthernet_Status::OnStartStop() {
    if (m_bPolling.load() == 0) {
        m_timer.start();
        m_bPolling.store(1);
        m_pollEvent.Set(); // the first pass begins at once
        m_ui->buttonStartStop->setText(QStringLiteral("Stop"));
        m_ui->buttonClear->setEnabled(false);
    } else {
        m_timer.stop();
        m_bPolling.store(0);
        m_ui->buttonStartStop->setText(QStringLiteral("Start"));
        m_ui->buttonClear->setEnabled(true);
    }
}

void CPageEthernet_Status::OnClear() {
    if (m_bPolling.load() != 0)
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bClearPending = 1;
    }
    FormatCounters();
    TransferTexts();
}

void CPageEthernet_Status::FormatCounters() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bClearPending) {
        m_totals.fill(0);
        ++m_clearEpoch;
        m_bClearPending = 0;
    }
    for (int i = 0; i < kCounterDefCount; ++i)
        m_counterText[i] = QString::number(static_cast<qulonglong>(m_totals[i]));
}

void CPageEthernet_Status::TransferTexts() {
    std::array<QString, kCounterDefCount> texts;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        texts = m_counterText;
    }
    for (int i = 0; i < kCounterDefCount; ++i)
        m_fields[i]->setText(texts[i]);
}

std::uint64_t CPageEthernet_Status::Total(int index) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_totals[index];
}

std::uint64_t CPageEthernet_Status::ClearEpoch() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_clearEpoch;
}

void CPageEthernet_Status::AddRead(int index, const RegResult& result, std::uint64_t epoch) {
    std::lock_guard<std::mutex> lock(m_mutex);
    // A read that began before Clear belongs to the totals Clear threw away.
    if (epoch == m_clearEpoch)
        m_totals[index] += CounterIncrement(result);
}

void CPageEthernet_Status::FinishPass() {
    FormatCounters();
    m_passCount.fetch_add(1, std::memory_order_relaxed);
}

bool RunEthCounterPass(CPageEthernet_Status& page) {
    std::uint64_t epoch = 0;
    std::array<RegResult, kCounterDefCount> reads{};
    ops::EthernetPassHooks hooks;
    hooks.beforeRead = [&](int) { epoch = page.ClearEpoch(); };
    hooks.abandon = [] { return g_bStopThreads.load() != 0; };
    hooks.counted = [&](int index, const RegResult& result) {
        reads[static_cast<std::size_t>(index)] = result;
        page.AddRead(index, result, epoch);
    };
    // A Stop (or hide) takes effect after the read in progress.
    hooks.stop = [&] { return !page.IsPolling(); };
    if (!ops::RunEthernetPass(ProcessBus(), hooks).complete)
        return false;
    page.FinishPass();
    if (IActivityObserver* observer = page.ActivityObserver()) {
        std::array<std::uint64_t, kCounterDefCount> totals{};
        for (int i = 0; i < kCounterDefCount; ++i)
            totals[static_cast<std::size_t>(i)] = page.Total(i);
        observer->OnEthPass(reads, totals);
    }
    return true;
}

int EthCounterPollThread(CPageEthernet_Status* page) {
    for (;;) {
        page->m_pollEvent.Wait();
        if (g_bStopThreads.load() != 0)
            return 0;
        if (!page->IsPolling())
            continue;
        RunEthCounterPass(*page);
    }
}

} // namespace tessor
