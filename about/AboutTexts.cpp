#include "about/AboutTexts.h"

QString aboutEnglishText(const QString& key)
{
    if (key == u"IDS_0")
        return QStringLiteral("Version ");
    if (key == u"IDS_4")
        return QStringLiteral("There is new version available on our site!\n"
                              "Do you want to visit site to download new version?");
    if (key == u"IDS_5")
        return QStringLiteral("Checking Quillora updates");
    if (key == u"IDS_6")
        return QStringLiteral("You are using the latest version of Quillora");
    if (key == u"IDS_9")
        return QStringLiteral("http://" QUILLORA_DEFAULT_UPDATE_HOST "/en/products/quillora/download.html");
    return {};
}
