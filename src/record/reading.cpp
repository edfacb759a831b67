#include "record/reading.h"

#include <QStringList>

#include <mecab.h>

#include <memory>

namespace Imecomp {

namespace {

struct TaggerDeleter
{
    void operator()(mecab_t *tagger) const { mecab_destroy(tagger); }
};

// Loaded on first use and kept: the dictionary is mapped, not read, so the
// first lookup costs a few milliseconds and the later ones nothing.
mecab_t *tagger()
{
    static const std::unique_ptr<mecab_t, TaggerDeleter> instance(mecab_new2(""));
    return instance.get();
}

QString toHiragana(const QString &katakana)
{
    QString hiragana = katakana;
    for (QChar &c : hiragana) {
        if (c >= u'\u30A1' && c <= u'\u30F6')
            c = QChar(char16_t(c.unicode() - 0x60));
    }
    return hiragana;
}

} // namespace

QString dictionaryReading(const QString &text)
{
    mecab_t *mecab = tagger();
    if (!mecab || text.isEmpty())
        return QString();
    const QByteArray utf8 = text.toUtf8();
    QString reading;
    for (const mecab_node_t *node = mecab_sparse_tonode2(mecab, utf8.constData(), size_t(utf8.size())); node;
         node = node->next) {
        if (node->stat == MECAB_BOS_NODE || node->stat == MECAB_EOS_NODE)
            continue;
        // The IPA dictionary's features: part of speech (four fields),
        // conjugation (two), base form, reading, pronunciation.  A word the
        // dictionary does not know has no reading.
        const QStringList features = QString::fromUtf8(node->feature).split(QLatin1Char(','));
        if (node->stat == MECAB_UNK_NODE || features.size() < 8 || features.at(7) == QLatin1String("*"))
            return QString();
        reading += features.at(7);
    }
    return toHiragana(reading);
}

QString completedReading(const QString &committed, const QString &captured)
{
    if (captured.isEmpty())
        return captured;
    const QString full = dictionaryReading(committed);
    if (full.size() > captured.size() && full.startsWith(captured))
        return full;
    return captured;
}

} // namespace Imecomp
