#include "db/accounts/rights.h"

namespace accounts {

using namespace Qt::StringLiterals;

QList<Role> allRoles()
{
    return {Role::Administrator, Role::Physician, Role::Nurse, Role::SocialWorker, Role::Clerk};
}

QList<Right> allRights()
{
    return {Right::ViewRecords, Right::EditRecords, Right::RegisterEpisodes, Right::Certificates,
            Right::PrintDocuments, Right::Export,   Right::Statistics,       Right::Options,
            Right::Maintenance,    Right::Accounts, Right::Audit};
}

QString roleName(Role role)
{
    switch (role) {
    case Role::Administrator:
        return u"管理者"_s;
    case Role::Physician:
        return u"医師"_s;
    case Role::Nurse:
        return u"看護師"_s;
    case Role::SocialWorker:
        return u"精神保健福祉士"_s;
    case Role::Clerk:
        return u"事務"_s;
    }
    Q_UNREACHABLE();
}

QString rightName(Right right)
{
    switch (right) {
    case Right::ViewRecords:
        return u"記録の閲覧"_s;
    case Right::EditRecords:
        return u"記録の編集"_s;
    case Right::RegisterEpisodes:
        return u"入退院の登録と削除"_s;
    case Right::Certificates:
        return u"診断書の編集と印刷"_s;
    case Right::PrintDocuments:
        return u"文書の印刷"_s;
    case Right::Export:
        return u"書き出し"_s;
    case Right::Statistics:
        return u"統計"_s;
    case Right::Options:
        return u"オプション"_s;
    case Right::Maintenance:
        return u"保守"_s;
    case Right::Accounts:
        return u"アカウント管理"_s;
    case Right::Audit:
        return u"監査"_s;
    }
    Q_UNREACHABLE();
}

std::optional<Role> roleNamed(const QString &name)
{
    for (Role role : allRoles())
        if (roleName(role) == name)
            return role;
    return std::nullopt;
}

std::optional<Right> rightNamed(const QString &name)
{
    for (Right right : allRights())
        if (rightName(right) == name)
            return right;
    return std::nullopt;
}

bool allowedByDefault(Role role, Right right)
{
    switch (role) {
    case Role::Administrator:
        // Clinical entries are made under a clinician's own account, so that
        // the history names the person who answers for them.
        return right != Right::EditRecords && right != Right::RegisterEpisodes && right != Right::Certificates;
    case Role::Physician:
        return right != Right::Options && right != Right::Maintenance && right != Right::Accounts
            && right != Right::Audit;
    case Role::Nurse:
    case Role::SocialWorker:
        return right == Right::ViewRecords || right == Right::EditRecords || right == Right::PrintDocuments
            || right == Right::Statistics;
    case Role::Clerk:
        return right == Right::ViewRecords || right == Right::RegisterEpisodes || right == Right::PrintDocuments
            || right == Right::Export || right == Right::Statistics || right == Right::Options;
    }
    Q_UNREACHABLE();
}

} // namespace accounts
