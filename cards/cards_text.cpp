#include "cards/cards_text.h"

#include <pango/pangoft2.h>

#include <algorithm>
#include <climits>

const char* const cardFontFamilies =
    "Noto Sans, Noto Sans Arabic, Noto Sans Hebrew, Noto Sans Devanagari, Noto Sans Thai, "
    "Noto Sans CJK SC, Noto Sans CJK JP, Noto Sans CJK KR, Noto Sans Symbols, "
    "Noto Sans Symbols2, sans-serif";

namespace {

// A Pango font map and context per thread: Pango's FreeType objects must not
// be shared between threads, and each card-drawing thread sets text of its own.
struct TextContext {
    PangoFontMap* fontMap = nullptr;
    PangoContext* context = nullptr;

    TextContext() {
        fontMap = pango_ft2_font_map_new();
        // 72 dots per inch: a point is a pixel.
        pango_ft2_font_map_set_resolution(PANGO_FT2_FONT_MAP(fontMap), 72, 72);
        context = pango_font_map_create_context(fontMap);
    }
    ~TextContext() {
        if (context) g_object_unref(context);
        if (fontMap) g_object_unref(fontMap);
    }
    TextContext(const TextContext&) = delete;
    TextContext& operator=(const TextContext&) = delete;
};

PangoContext* threadContext() {
    thread_local TextContext text;
    return text.context;
}

struct Layout {
    PangoLayout* layout = nullptr;
    ~Layout() {
        if (layout) g_object_unref(layout);
    }
};

void layOut(Layout& holder, const std::string& text, const TextStyle& style) {
    holder.layout = pango_layout_new(threadContext());
    PangoLayout* layout = holder.layout;
    PangoFontDescription* font = pango_font_description_from_string(cardFontFamilies);
    pango_font_description_set_absolute_size(font, std::max(1, style.pixelSize) * PANGO_SCALE);
    pango_font_description_set_weight(font, style.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_layout_set_font_description(layout, font);
    pango_font_description_free(font);
    if (style.width > 0) {
        pango_layout_set_width(layout, style.width * PANGO_SCALE);
        pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
        pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
        // A negative height counts lines.
        pango_layout_set_height(layout, -std::max(1, style.maxLines));
        pango_layout_set_alignment(layout, PANGO_ALIGN_CENTER);
    }
    pango_layout_set_text(layout, text.data(), static_cast<int>(text.size()));
}

// Byte offsets of the characters the layout shows as unknown glyphs.
std::vector<int> unknownCharacters(PangoLayout* layout) {
    std::vector<int> offsets;
    PangoLayoutIter* iter = pango_layout_get_iter(layout);
    do {
        PangoLayoutRun* run = pango_layout_iter_get_run_readonly(iter);
        if (!run) continue;
        const PangoGlyphString* glyphs = run->glyphs;
        for (int i = 0; i < glyphs->num_glyphs; ++i)
            if (glyphs->glyphs[i].glyph & PANGO_GLYPH_UNKNOWN_FLAG)
                offsets.push_back(run->item->offset + glyphs->log_clusters[i]);
    } while (pango_layout_iter_next_run(iter));
    pango_layout_iter_free(iter);
    std::sort(offsets.begin(), offsets.end());
    offsets.erase(std::unique(offsets.begin(), offsets.end()), offsets.end());
    return offsets;
}

// Whether a character belongs to the one before it when that one is left
// out: combining marks, variation selectors, joiners, emoji modifiers and
// tags.
bool belongsToPrevious(gunichar c) {
    return g_unichar_ismark(c) || (c >= 0xFE00 && c <= 0xFE0F) || c == 0x200D ||
           (c >= 0x1F3FB && c <= 0x1F3FF) || (c >= 0xE0020 && c <= 0xE007F) ||
           (c >= 0xE0100 && c <= 0xE01EF);
}

// The bidirectional embeddings, overrides, isolates and marks: a name could
// make itself read as something else with them ("\u202Egnp.exe" shows
// "exe.png"), so the card drops them, as the player's title does. Each line
// keeps the direction of its own script.
bool isBidiControl(gunichar c) {
    return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x200E || c == 0x200F ||
           c == 0x061C;
}

// `text` without the characters at `offsets` and what belongs to them.
std::string withoutCharacters(const std::string& text, const std::vector<int>& offsets) {
    std::string kept;
    bool dropping = false;
    const char* start = text.data();
    const char* end = start + text.size();
    for (const char* p = start; p < end;) {
        const char* next = g_utf8_next_char(p);
        const gunichar c = g_utf8_get_char(p);
        const bool listed =
            std::binary_search(offsets.begin(), offsets.end(), static_cast<int>(p - start));
        dropping = listed || (dropping && belongsToPrevious(c));
        if (!dropping) kept.append(p, static_cast<size_t>(next - p));
        p = next;
    }
    return cleanText(kept);
}

// Whether the ink of the laid-out text stays within its width (a pixel or
// two of overhang aside, as italic and bold letters have).
bool inkFits(PangoLayout* layout, int width) {
    constexpr int overhang = 2;
    PangoRectangle ink;
    pango_layout_get_pixel_extents(layout, &ink, nullptr);
    return ink.width == 0 || (ink.x >= -overhang && ink.x + ink.width <= width + overhang);
}

// Pango ellipsises by the logical box, but some text draws far past it: a
// run of conjoining jamo has almost no advance and ink all along. Such text
// is cut, at the most characters whose ink fits, and ends in an ellipsis.
void fitInk(Layout& holder, std::string& shown, const TextStyle& style) {
    if (style.width <= 0 || inkFits(holder.layout, style.width)) return;
    std::vector<size_t> ends;  // byte offset after each character
    for (const char* p = shown.data(); p < shown.data() + shown.size(); p = g_utf8_next_char(p))
        ends.push_back(static_cast<size_t>(g_utf8_next_char(p) - shown.data()));
    auto cut = [&](size_t characters) {
        return characters == 0 ? std::string("\u2026") : shown.substr(0, ends[characters - 1]) + "\u2026";
    };
    auto fits = [&](size_t characters) {
        Layout trial;
        layOut(trial, cut(characters), style);
        return inkFits(trial.layout, style.width);
    };
    size_t low = 0, high = ends.size();  // fits(low) is assumed; high does not fit
    while (high - low > 1) {
        const size_t middle = low + (high - low) / 2;
        if (fits(middle)) low = middle;
        else high = middle;
    }
    shown = cut(low);
    g_object_unref(holder.layout);
    holder.layout = nullptr;
    layOut(holder, shown, style);
}

}  // namespace

std::string cleanText(const std::string& text) {
    gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    std::string cleaned;
    bool space = false;
    for (const gchar* p = valid; *p; p = g_utf8_next_char(p)) {
        const gunichar c = g_utf8_get_char(p);
        // White space of any kind (tabs, line and paragraph separators)
        // becomes one space: the card decides where lines break. Other
        // control characters would show as boxes.
        if (g_unichar_isspace(c) || c == 0x2028 || c == 0x2029) {
            space = !cleaned.empty();
            continue;
        }
        if (g_unichar_type(c) == G_UNICODE_CONTROL || isBidiControl(c)) continue;
        if (space) cleaned.push_back(' ');
        space = false;
        const gchar* next = g_utf8_next_char(p);
        cleaned.append(p, static_cast<size_t>(next - p));
    }
    g_free(valid);
    return cleaned;
}

TextBlock setText(const std::string& text, const TextStyle& style) {
    std::string shown = cleanText(text);
    Layout holder;
    layOut(holder, shown, style);
    // Leaving characters out can bring others into view (they were past the
    // ellipsis); a few rounds settle any real name.
    for (int round = 0; round < 4; ++round) {
        const std::vector<int> unknown = unknownCharacters(holder.layout);
        if (unknown.empty()) break;
        shown = withoutCharacters(shown, unknown);
        g_object_unref(holder.layout);
        holder.layout = nullptr;
        layOut(holder, shown, style);
    }

    const std::string laidOut = shown;
    fitInk(holder, shown, style);

    PangoLayout* layout = holder.layout;
    TextBlock block;
    PangoRectangle ink, logical;
    pango_layout_get_pixel_extents(layout, &ink, &logical);
    block.boxLeft = logical.x;
    block.boxTop = logical.y;
    block.boxWidth = logical.width;
    block.boxHeight = logical.height;
    block.lines = pango_layout_get_line_count(layout);
    block.ellipsized = pango_layout_is_ellipsized(layout) || shown != laidOut;
    // The mask covers the ink and the logical box: marks may reach beyond
    // the line boxes, and the box places the text.
    const int left = std::min(ink.x, logical.x), top = std::min(ink.y, logical.y);
    const int right = std::max(ink.x + ink.width, logical.x + logical.width);
    const int bottom = std::max(ink.y + ink.height, logical.y + logical.height);
    block.left = left;
    block.top = top;
    block.width = std::max(0, right - left);
    block.height = std::max(0, bottom - top);
    if (block.width == 0 || block.height == 0) {
        block.width = block.height = 0;
        return block;
    }
    // Rows four-byte aligned as FreeType likes them, copied out tight.
    const int pitch = (block.width + 3) & ~3;
    std::vector<unsigned char> buffer(static_cast<size_t>(pitch) * block.height, 0);
    FT_Bitmap bitmap{};
    bitmap.rows = static_cast<unsigned>(block.height);
    bitmap.width = static_cast<unsigned>(block.width);
    bitmap.pitch = pitch;
    bitmap.buffer = buffer.data();
    bitmap.num_grays = 256;
    bitmap.pixel_mode = FT_PIXEL_MODE_GRAY;
    pango_ft2_render_layout(&bitmap, layout, -left, -top);
    block.coverage.resize(static_cast<size_t>(block.width) * block.height);
    for (int y = 0; y < block.height; ++y)
        std::copy_n(&buffer[static_cast<size_t>(y) * pitch], block.width,
                    &block.coverage[static_cast<size_t>(y) * block.width]);
    return block;
}

int countMissingGlyphs(const std::string& text) {
    Layout holder;
    layOut(holder, cleanText(text), TextStyle());
    return static_cast<int>(unknownCharacters(holder.layout).size());
}
