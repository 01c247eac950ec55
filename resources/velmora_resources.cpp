#include "velmora_resources.h"

#include <QFile>

namespace velmora::resources {

bool available()
{
    for (const char *path : {kLinkCursor, kAppIcon, kWindowIcon}) {
        if (!QFile::exists(QString::fromLatin1(path)))
            return false;
    }
    return true;
}

}  // namespace velmora::resources
