// A read-only window probe for the real-input tests: on Linux preloaded (LD_PRELOAD) into the unchanged
// program, for the checks under Wine compiled into the program's test build (tests/windows/). It is
// switched on by TESSOR_UI_PROBE_DIR and never sends input: the tests type and click through the X
// server. On request it writes what a person would see: every visible top-level window with its title,
// geometry and the texts, states and screen rectangles of its widgets, so the tests can aim real clicks
// and check the result.
//
// Protocol: the directory named by TESSOR_UI_PROBE_DIR; the test creates the file "request", the probe
// answers by writing "state.json" (through a rename, so it is never seen half written) and removing the
// request. Requests are looked at every 50 ms by a timer, which runs in nested (modal) event loops too.
#include <QAbstractButton>
#include <QAbstractSlider>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QSaveFile>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>

namespace {

// A rectangle of the widget in screen coordinates.
QJsonObject GlobalRect(const QWidget* w, const QRect& r) {
    const QPoint topLeft = w->mapToGlobal(r.topLeft());
    return QJsonObject{{"x", topLeft.x()}, {"y", topLeft.y()}, {"w", r.width()}, {"h", r.height()}};
}

QJsonObject Rect(const QWidget* w) {
    return GlobalRect(w, w->rect());
}

QJsonObject Describe(const QWidget* w) {
    QJsonObject o{{"class", QString::fromLatin1(w->metaObject()->className())},
                  {"name", w->objectName()},
                  {"enabled", w->isEnabled()},
                  {"focus", w->hasFocus()},
                  {"hover", w->underMouse()},
                  {"rect", Rect(w)}};
    if (const auto* b = qobject_cast<const QAbstractButton*>(w)) {
        o["text"] = b->text();
        if (b->isCheckable())
            o["checked"] = b->isChecked();
    } else if (const auto* l = qobject_cast<const QLabel*>(w)) {
        o["text"] = l->text();
    } else if (const auto* e = qobject_cast<const QLineEdit*>(w)) {
        o["text"] = e->text();
    } else if (const auto* c = qobject_cast<const QComboBox*>(w)) {
        o["text"] = c->currentText();
    } else if (const auto* t = qobject_cast<const QTabWidget*>(w)) {
        o["text"] = t->tabText(t->currentIndex());
        o["current"] = t->currentIndex();
    } else if (const auto* m = qobject_cast<const QMenu*>(w)) {
        o["text"] = m->title();
    } else if (const auto* bar = qobject_cast<const QProgressBar*>(w)) {
        o["value"] = bar->value();
        o["maximum"] = bar->maximum();
    }
    if (!w->accessibleName().isEmpty())
        o["accessibleName"] = w->accessibleName();
    if (!w->accessibleDescription().isEmpty())
        o["accessibleDescription"] = w->accessibleDescription();
    if (const auto* slider = qobject_cast<const QAbstractSlider*>(w)) {
        o["value"] = slider->value();
        o["minimum"] = slider->minimum();
        o["maximum"] = slider->maximum();
    }
    if (const auto* list = qobject_cast<const QListWidget*>(w)) {
        QJsonArray items;
        for (int i = 0; i < list->count(); ++i)
            items.append(list->item(i)->text());
        o["items"] = items;
    }
    if (const auto* tree = qobject_cast<const QTreeWidget*>(w)) {
        QJsonArray rows;
        for (int i = 0; i < tree->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = tree->topLevelItem(i);
            QJsonArray texts;
            for (int c = 0; c < tree->columnCount(); ++c)
                texts.append(item->text(c));
            rows.append(QJsonObject{{"texts", texts},
                                    {"rect", GlobalRect(tree->viewport(), tree->visualItemRect(item))}});
        }
        o["rows"] = rows;
        o["current"] = tree->currentItem() ? tree->indexOfTopLevelItem(tree->currentItem()) : -1;
    }
    if (const auto* tabs = qobject_cast<const QTabBar*>(w)) {
        QJsonArray list;
        for (int i = 0; i < tabs->count(); ++i)
            list.append(
                QJsonObject{{"text", tabs->tabText(i)}, {"rect", GlobalRect(tabs, tabs->tabRect(i))}});
        o["tabs"] = list;
    }
    if (auto* bar = qobject_cast<QMenuBar*>(const_cast<QWidget*>(w))) {
        QJsonArray menus;
        for (QAction* a : bar->actions()) {
            menus.append(QJsonObject{{"text", a->text()}, {"rect", GlobalRect(bar, bar->actionGeometry(a))}});
        }
        o["menus"] = menus;
    }
    return o;
}

QJsonDocument Snapshot() {
    QJsonArray windows;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (!top->isVisible())
            continue;
        QJsonArray widgets;
        for (QWidget* child : top->findChildren<QWidget*>()) {
            // Children of another visible window are listed with that window.
            if (child->isVisible() && child->window() == top)
                widgets.append(Describe(child));
        }
        QJsonObject o = Describe(top);
        o["title"] = top->windowTitle();
        o["active"] = top->isActiveWindow();
        o["modal"] = top->isModal();
        o["widgets"] = widgets;
        windows.append(o);
    }
    const QWidget* modal = QApplication::activeModalWidget();
    return QJsonDocument(
        QJsonObject{{"windows", windows}, {"activeModal", modal ? modal->windowTitle() : QString()}});
}

void AnswerRequest(const QString& dir) {
    const QString request = dir + QStringLiteral("/request");
    if (!QFile::exists(request))
        return;
    QSaveFile out(dir + QStringLiteral("/state.json"));
    if (out.open(QIODevice::WriteOnly)) {
        out.write(Snapshot().toJson(QJsonDocument::Indented));
        out.commit();
    }
    QFile::remove(request);
}

void StartProbe() {
    const QString dir = qEnvironmentVariable("TESSOR_UI_PROBE_DIR");
    if (dir.isEmpty())
        return;
    auto* timer = new QTimer(QCoreApplication::instance());
    QObject::connect(timer, &QTimer::timeout, [dir] { AnswerRequest(dir); });
    timer->start(50);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(StartProbe)
