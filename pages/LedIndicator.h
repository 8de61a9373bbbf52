#pragma once

#include <QPixmap>
#include <QString>
#include <QWidget>

namespace tessor {

// Registers the status pages' images (":/status/...") once; the resources live in a static library.
void InitStatusResources();

// A small bitmap indicator showing one of two images. It takes no input: the pages keep it disabled and
// clicking it does nothing.
class CLedIndicator : public QWidget {
    Q_OBJECT
public:
    explicit CLedIndicator(QWidget* parent = nullptr);

    // Loads the two images (resource paths), takes the size of the first one around the previous centre
    // and shows image 0.
    void SetImages(const QString& image0, const QString& image1);
    // Shows image s for s = 0 or 1; other values keep the image. Repaints in every case.
    void SetState(int state);
    // What each state means, in words, for screen readers (the accessible description follows the state).
    void SetStateTexts(const QString& text0, const QString& text1);

    int State() const { return m_state; }
    // Resource path of the image shown now (empty before SetImages).
    QString CurrentImage() const { return m_paths[m_state]; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_paths[2];
    QPixmap m_images[2];
    QString m_texts[2];
    int m_state = 0;

    void UpdateDescription();
};

} // namespace tessor
