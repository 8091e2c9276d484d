#include "hostile/hostile_pages.h"

#include "dom/dom.h"

namespace korvane::test {
namespace {

constexpr size_t kMegabyte = 1 << 20;

const std::string kHost = "hostile.example/";
const std::string kBody = "<body id=\"page\" onunload=\"window.open('http://ads.example/bye.html')\">";
const std::string kMarks =
    "<a id=\"last\" href=\"http://news.example/story.html\" target=\"_blank\">Last</a>"
    "<img id=\"ad\" src=\"http://ads.example/banner.gif\" width=\"468\" height=\"60\">";

std::string Repeat(const std::string& piece, size_t times) {
    std::string out;
    out.reserve(piece.size() * times);
    for (size_t i = 0; i < times; ++i) out += piece;
    return out;
}

HostilePage Page(const std::string& name, const std::string& file, const std::string& html) {
    HostilePage page;
    page.name = name;
    page.url = "http://" + kHost + file;
    page.files.emplace_back(kHost + file, html);
    return page;
}

std::string Plain(const std::string& inside) {
    return "<html>" + kBody + inside + kMarks + "</body></html>";
}

// A source listing as documentation generators write them: for each line a
// numbered link to itself, then the code's tokens in highlighted spans.
std::string SourceListing(int lines) {
    static const char* const kKinds[] = {"kw", "kw-2", "number", "string", "attr", "macro"};
    std::string listing =
        "<nav class=\"sidebar\"><h2>Files</h2></nav><main><section id=\"main-content\">"
        "<div class=\"main-heading\"><h1>listing.rs</h1></div>"
        "<div class=\"example-wrap digits-5\"><pre class=\"rust\"><code>";
    listing.reserve(static_cast<size_t>(lines) * 130);
    for (int line = 1; line <= lines; ++line) {
        const std::string n = std::to_string(line);
        listing += "<a href=#" + n + " id=" + n + " data-nosnippet>" + n + "</a>    ";
        for (int token = 0; token < line % 4; ++token)
            listing += std::string("<span class=\"") + kKinds[(line + token) % 6] + "\">let </span>value_" +
                       std::to_string(line % 997) + "(a, b);";
        listing += "\n";
    }
    return listing + "</code></pre></div></section></main>";
}

}  // namespace

std::string RandomBytes(size_t n, unsigned seed) {
    std::string out(n, '\0');
    unsigned state = seed * 2654435761u + 1u;
    for (char& c : out) {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>(state >> 24);
    }
    return out;
}

std::vector<HostilePage> HostilePages() {
    std::vector<HostilePage> pages;

    std::string generated = standin::GeneratePage(100000, 14);
    generated.insert(generated.rfind("</body>"), kMarks);
    generated.insert(generated.find("<body") + 5, " id=\"page\"");
    pages.push_back(Page("100k elements", "elements.html", generated));

    for (size_t depth : {10, 100, 1000, 10000})
        pages.push_back(Page("nesting " + std::to_string(depth), "nesting" + std::to_string(depth) + ".html",
                             "<html>" + kBody + Repeat("<div>", depth) + kMarks +
                                 Repeat("</div>", depth) + "</body></html>"));

    const std::string big(kMegabyte, 'v');
    pages.push_back(Page("1 MB attribute values", "attributes.html",
                         Plain("<a href=\"http://news.example/?" + big + "\" target=\"_blank\" title=\"" +
                               big + "\">Long</a><a href=\"story.html\" target=\"" + big +
                               "\">Far</a><img src=\"http://ads.example/" + big +
                               "\" width=\"468\" height=\"60\" alt=\"" + big + "\"><div title=\"" +
                               big + "\"><img src=\"x.gif\" width=\"" + big + "\"></div>")));

    std::string links;
    for (int i = 0; i < 5000; ++i)
        links += std::string(i ? "<a" : "<a id=\"first\"") + " href=\"http://news.example/" + std::to_string(i) + ".html\" target=\"" +
                 (i % 10 != 9 ? "_blank" : "n" + std::to_string(i)) + "\">" + std::to_string(i) + "</a>\n";
    pages.push_back(Page("5,000 links", "links.html", Plain(links)));

    HostilePage frames = Page("1,000 frames", "frames.html", "");
    std::string frameset = "<html><frameset id=\"page\" onunload=\"leave()\" rows=\"" +
                           Repeat("1,", 999) + "1\">";
    for (int i = 0; i < 1000; ++i)
        frameset += "<frame name=\"f" + std::to_string(i) + "\" src=\"frame.html\">";
    frames.files[0].second = frameset + "</frameset></html>";
    frames.files.emplace_back(kHost + "frame.html", Plain(""));
    frames.frameContext = "/f999";
    pages.push_back(frames);

    pages.push_back(Page("1 MB onunload", "onunload.html",
                         "<html><body id=\"page\" onunload=\"" + Repeat("window.open('x');", kMegabyte / 17) +
                             "\">" + kMarks + "</body></html>"));

    // The marks come first: random markup may open an element that never ends.
    pages.push_back(Page("1 MB of binary bytes", "binary.html",
                         "<html>" + kBody + kMarks + RandomBytes(kMegabyte, 14)));

    // Character references to halves of surrogate pairs, and to nothing; a
    // script writes halves into the page as well (scriptWritesHalves).
    const std::string lone = "&#xD800;&#xDFFF;&#xDBFF;x&#0;&#x110000;";
    pages.push_back(Page("lone surrogates", "surrogates.html",
                         Plain("<a id=\"first\" href=\"http://news.example/" + lone + "\" target=\"" + lone +
                               "\">" + lone + "</a><img src=\"http://ads.example/" + lone +
                               "\" width=\"468\" height=\"60\"><div>" + lone + "</div>")));
    pages.back().scriptWritesHalves = true;

    // The shape that once made every page of a window cost more than the
    // one before, until the window stalled: large listings of 60,000
    // numbered lines one after another, each link given a title and a
    // target by the scan.
    pages.push_back(Page("source listings, 6 in one window", "listing.html", Plain(SourceListing(60000))));
    pages.back().timesInOneWindow = 6;
    return pages;
}

}  // namespace korvane::test
