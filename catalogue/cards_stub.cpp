// A stand-in card maker: a plain name card of one colour for every channel.
#include "catalogue/cards.h"

#include "tools/jpeg_writer.h"

std::vector<CardResult> makeCards(const std::vector<CardSpec>& specs, const CardOptions&,
                                  const std::function<void(const CardProgress&)>& progress) {
    std::vector<CardResult> results(specs.size());
    CardProgress counts;
    counts.total = specs.size();
    for (size_t i = 0; i < specs.size(); ++i) {
        const unsigned char shade = static_cast<unsigned char>(40 + (specs[i].number * 37) % 160);
        results[i].written = writeSolidJpeg(specs[i].output, cardWidth, cardHeight, shade, 60, 120);
        results[i].remade = true;
        results[i].logo = specs[i].logo.empty() ? logoNone : logoFailed;
        if (!results[i].written) results[i].problem = "cannot write " + specs[i].output;
        ++counts.done;
        ++counts.made;
        if (progress) progress(counts);
    }
    return results;
}
