// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ImageList.h"

ImageList::ImageList(const QString& objectName, const QSize& imageSize, QObject* parent)
    : QObject(parent), m_size(imageSize)
{
    setObjectName(objectName);
}

int ImageList::add(const QPixmap& image)
{
    m_images.append(image.size() == m_size
                        ? image
                        : image.scaled(m_size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    return count() - 1;
}

void ImageList::replace(int index, const QPixmap& image)
{
    if (index >= 0 && index < count())
        m_images[index] = image.size() == m_size
                              ? image
                              : image.scaled(m_size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QPixmap ImageList::image(int index) const
{
    return index >= 0 && index < count() ? m_images.at(index) : QPixmap();
}
