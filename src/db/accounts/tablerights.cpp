#include "db/accounts/tablerights.h"

#include <QHash>
#include <algorithm>
#include <functional>

namespace accounts {

using namespace Qt::StringLiterals;

namespace {

// How a table is written: one permission for each way.  Named here rather
// than taken from their modules, so that the map stays free of windows and
// of the extensions' code; the tests hold it against the schema.
struct TableRule
{
    QString table;
    WritePermission insert;
    WritePermission update;
    WritePermission remove;
};

WritePermission anyone()
{
    return {WritePermission::Kind::Anyone, {}};
}

WritePermission nobody()
{
    return {WritePermission::Kind::Nobody, {}};
}

WritePermission anyOf(QList<Right> rights)
{
    return {WritePermission::Kind::AnyOf, std::move(rights)};
}

TableRule sameForAll(const QString &table, Right right)
{
    return {table, anyOf({right}), anyOf({right}), anyOf({right})};
}

const QList<TableRule> &rules()
{
    static const QList<TableRule> list = [] {
        QList<TableRule> r;
        // A patient and an episode come and go with a registration; their
        // fields are the records.  Whoever registers fills in the new
        // patient's data in the new-patient window, which a server cannot
        // tell from the other record windows: registering includes writing
        // the rows.  The two companion rows of an episode are added by its
        // registration, or by a record window that finds them missing (an
        // older program left them out).
        const WritePermission fields = anyOf({Right::EditRecords, Right::RegisterEpisodes});
        r.append(TableRule{u"患者情報"_s, anyOf({Right::RegisterEpisodes}), fields, anyOf({Right::RegisterEpisodes})});
        r.append(TableRule{u"入退院情報"_s, anyOf({Right::RegisterEpisodes}), fields, anyOf({Right::RegisterEpisodes})});
        for (const QString &companion : {u"検査情報"_s, u"診断情報"_s})
            r.append(TableRule{companion, fields, fields, anyOf({Right::RegisterEpisodes})});

        for (const QString &table : {u"32条診断書"_s, u"診断書記録"_s, u"診断書項目"_s, u"診断書設定"_s})
            r.append(sameForAll(table, Right::Certificates));

        for (const QString &table : {u"主治医"_s, u"病室番号"_s, u"ベッド番号"_s, u"入院形態"_s, u"介護度"_s,
                                     u"障害者等級"_s, u"扱別"_s, u"転帰"_s, u"性別"_s, u"服用方法"_s,
                                     u"医薬品情報"_s, u"診断名(ICD10)"_s, u"時間外頻度"_s, u"病院名"_s})
            r.append(sameForAll(table, Right::Options));

        for (const QString &table : {u"バージョン"_s, u"監査記録バージョン"_s, u"職員管理バージョン"_s,
                                     u"診断書記録バージョン"_s})
            r.append(sameForAll(table, Right::Maintenance));

        // Every account writes its own row: its password, its failed
        // attempts, its last login.  Whoever changes another's row is checked
        // for the right Accounts by the accounts' own code.
        r.append(TableRule{u"職員"_s, anyOf({Right::Accounts}), anyone(), anyOf({Right::Accounts})});
        r.append(sameForAll(u"役割権限"_s, Right::Accounts));
        r.append(sameForAll(u"職員管理設定"_s, Right::Accounts));

        // The trail and the change history are appended to by whatever
        // anybody does, and never rewritten; the head row moves with every
        // append and is made once, with the trail.
        r.append(TableRule{u"監査記録"_s, anyone(), nobody(), nobody()});
        r.append(TableRule{u"変更履歴"_s, anyone(), nobody(), nobody()});
        r.append(TableRule{u"監査記録先頭"_s, anyOf({Right::Maintenance}), anyone(), nobody()});
        return r;
    }();
    return list;
}

const TableRule *ruleOf(const QString &table)
{
    static const QHash<QString, const TableRule *> byName = [] {
        QHash<QString, const TableRule *> h;
        for (const TableRule &rule : rules())
            h.insert(rule.table.toLower(), &rule);
        return h;
    }();
    return byName.value(table.toLower());
}

const WritePermission &permissionOf(const TableRule &rule, Write write)
{
    switch (write) {
    case Write::Insert:
        return rule.insert;
    case Write::Update:
        return rule.update;
    case Write::Delete:
        return rule.remove;
    }
    Q_UNREACHABLE();
}

QList<TableWrites> tablesWhere(const std::function<bool(const WritePermission &)> &granted)
{
    QList<TableWrites> found;
    for (const TableRule &rule : rules()) {
        TableWrites writes{rule.table, {}};
        for (Write write : {Write::Insert, Write::Update, Write::Delete})
            if (granted(permissionOf(rule, write)))
                writes.writes.append(write);
        if (!writes.writes.isEmpty())
            found.append(writes);
    }
    return found;
}

} // namespace

bool WritePermission::allows(const QList<Right> &held) const
{
    switch (kind) {
    case Kind::Anyone:
        return true;
    case Kind::Nobody:
        return false;
    case Kind::AnyOf:
        return std::any_of(rights.cbegin(), rights.cend(), [&held](Right right) { return held.contains(right); });
    }
    Q_UNREACHABLE();
}

WritePermission writePermission(const QString &table, Write write)
{
    if (const TableRule *rule = ruleOf(table))
        return permissionOf(*rule, write);
    return anyOf({Right::Maintenance});
}

QStringList knownTables()
{
    QStringList names;
    for (const TableRule &rule : rules())
        names.append(rule.table);
    return names;
}

QList<TableWrites> tablesWritableWith(Right right)
{
    return tablesWhere([right](const WritePermission &permission) {
        return permission.kind == WritePermission::Kind::AnyOf && permission.rights.contains(right);
    });
}

QList<TableWrites> tablesWritableByAnyone()
{
    return tablesWhere([](const WritePermission &permission) { return permission.kind == WritePermission::Kind::Anyone; });
}

} // namespace accounts
