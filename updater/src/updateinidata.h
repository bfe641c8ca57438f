#pragma once

#include <QString>

// The session record in group "current" of update.ini: the target version, the session's temp
// directory, the installation directory and the product type of a run. It lets a second updater
// process continue the session of the first. Other groups of the file are left as they are.
class UpdateIniData
{
public:
    // The updater's own file: "update.ini" in the program directory.
    static QString iniPath();

    // Reads the record from iniPath(). True only for a complete record: a decimal version, a
    // non-empty type and a non-empty dir that exists. On true every non-null pointer receives
    // its value; on false none is written.
    static bool get(int *version, QString *type, QString *dir, QString *vlrdir);

    // Writes the four keys of group "current" into iniFile; true when the file was written.
    static bool modify(int version, const QString &dir, const QString &vlrdir, const QString &type,
                       const QString &iniFile);

    // Copies the record of iniPath() to dir + "/update.ini", naming the client type, for the
    // new updater that continues the session there. False when there is no valid record or
    // the copy could not be written.
    static bool modifyTempIni(const QString &dir);

    // Ends the session recorded in iniFile: removes group "current" and deletes the file when
    // nothing else is left in it. The other groups (channel, proxy, streams) are settings of
    // the user, not of the session, and survive. True when no record remains.
    static bool removeRecord(const QString &iniFile);
};
