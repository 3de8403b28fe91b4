// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>
#include <QList>
#include <QObject>
#include <QPixmap>
#include <QSize>

// A numbered list of pictures of one size, shared by the views and menus that show them
// by index: the scanner icon, the thumbnails of scanned pages, the command icons.
class ImageList : public QObject
{
    Q_OBJECT
public:
    ImageList(const QString& objectName, const QSize& imageSize, QObject* parent);

    QSize imageSize() const { return m_size; }
    int count() const { return static_cast<int>(m_images.size()); }
    // Appends the picture (brought to the list's size when it differs) and returns its index.
    int add(const QPixmap& image);
    // Puts another picture in the place of index (a page that was turned).
    void replace(int index, const QPixmap& image);
    // The picture at index; a null picture outside the list.
    QPixmap image(int index) const;
    QIcon icon(int index) const { return QIcon(image(index)); }
    void clear() { m_images.clear(); }

private:
    QSize m_size;
    QList<QPixmap> m_images;
};
