#pragma once

#include <QHash>
#include <QMetaType>
#include <QPair>
#include <QString>

// The version service's answer: channel key ("stable", "beta", "alpha") to the pair
// (version number as decimal text, version string). Empty when the query failed.
typedef QHash<QString, QPair<QString, QString>> UpdateVersions;

Q_DECLARE_METATYPE(UpdateVersions)
