#pragma once

#include <QImage>
#include <QWidget>

namespace zq::forms {

/// A picture area: shows its image stretched over the whole area, or stays empty.
class PictureBox : public QWidget
{
    Q_OBJECT
public:
    explicit PictureBox(QWidget *parent = nullptr);
    void setImage(const QImage &image);
    void clear() { setImage(QImage()); }
    const QImage &image() const { return m_image; }
    bool hasPicture() const { return !m_image.isNull(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage m_image;
};

} // namespace zq::forms
