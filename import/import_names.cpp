#include "import/import_names.h"

#include <unicode/translit.h>
#include <unicode/unistr.h>

#include <memory>
#include <mutex>
#include <unordered_map>

namespace {

// ICU's transliterators, made once (making one reads its rules: some ms).
// None where ICU lacks them; then the text is only folded.
struct Transliterators {
    std::unique_ptr<icu::Transliterator> anyLatin;
    std::unique_ptr<icu::Transliterator> russianLatin;
};

std::unique_ptr<icu::Transliterator> makeTransliterator(const char* rules) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Transliterator> made(
        icu::Transliterator::createInstance(rules, UTRANS_FORWARD, status));
    if (U_FAILURE(status)) return nullptr;
    return made;
}

Transliterators& transliterators() {
    static Transliterators made;
    static std::once_flag once;
    std::call_once(once, [] {
        made.anyLatin = makeTransliterator("Any-Latin; Latin-ASCII");
        made.russianLatin = makeTransliterator("Russian-Latin/BGN; Latin-ASCII");
    });
    return made;
}

std::string transliterated(icu::Transliterator* transliterator, const std::string& text) {
    if (!transliterator) return text;
    icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(text);
    transliterator->transliterate(unicode);
    std::string result;
    unicode.toUTF8String(result);
    return result;
}

bool isAscii(const std::string& text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// Cyrillic letters (U+0400..U+04FF) start with the bytes D0..D3 in UTF-8.
bool hasCyrillic(const std::string& text) {
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte >= 0xD0 && byte <= 0xD3) return true;
    }
    return false;
}

// The spellings of one word of a name.
struct WordSpellings {
    std::string latin;   // transliterated and folded; may hold several words
    std::string joined;  // the same run together
    std::string russian; // the BGN/PCGN spelling of a Cyrillic word, else latin
};

WordSpellings spellWord(const std::string& word) {
    WordSpellings spellings;
    Transliterators& made = transliterators();
    spellings.latin = foldName(isAscii(word) ? word : transliterated(made.anyLatin.get(), word));
    spellings.joined = joinedWords(spellings.latin);
    if (spellings.joined.empty()) spellings.joined = spellings.latin;
    spellings.russian = hasCyrillic(word) && made.russianLatin
                            ? foldName(transliterated(made.russianLatin.get(), word))
                            : spellings.latin;
    return spellings;
}

// Words met before, with their spellings; emptied when it grows past its
// bound, so memory stays bounded on any playlist.
using WordCache = std::unordered_map<std::string, WordSpellings>;
constexpr size_t wordCacheLimit = 1u << 20;

void append(std::string& text, const std::string& word) {
    if (word.empty()) return;
    if (!text.empty()) text += ' ';
    text += word;
}

std::string spellText(const std::string& text, WordCache& cache) {
    std::string latin, joined, russian;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of(" \t", start);
        if (end == std::string::npos) end = text.size();
        if (end > start) {
            const std::string word = text.substr(start, end - start);
            auto found = cache.find(word);
            if (found == cache.end()) {
                if (cache.size() >= wordCacheLimit) cache.clear();
                found = cache.emplace(word, spellWord(word)).first;
            }
            append(latin, found->second.latin);
            append(joined, found->second.joined);
            append(russian, found->second.russian);
        }
        start = end + 1;
    }
    return joinSpellings({latin, joined, russian});
}

}  // namespace

std::string searchableNames(const std::string& text) {
    WordCache cache;
    return spellText(text, cache);
}

std::vector<NameEntry> nameEntriesOf(const std::vector<PlaylistEntry>& entries) {
    std::vector<NameEntry> named(entries.size());
    WordCache cache;
    for (size_t i = 0; i < entries.size(); ++i) {
        named[i].channel = static_cast<int>(i + 1);
        named[i].names = spellText(entries[i].name, cache);
        named[i].group = spellText(entries[i].group, cache);
    }
    return named;
}
