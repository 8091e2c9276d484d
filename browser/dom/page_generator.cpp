// Pages of a chosen number of elements, for benchmarks of the page scan.
#include <string>

#include "dom.h"

namespace standin {
namespace {

class Random {
public:
    explicit Random(unsigned seed) : state_(seed * 2654435761u + 1u) {}
    unsigned Next(unsigned bound) {
        state_ = state_ * 1664525u + 1013904223u;
        return bound ? (state_ >> 8) % bound : 0;
    }

private:
    unsigned state_;
};

const char* const kTargets[] = {"_blank", "_blank", "_blank", "_self", "_top", "main", "news"};

class PageWriter {
public:
    PageWriter(int elements, unsigned seed) : budget_(elements), random_(seed) {}

    std::string Write() {
        out_ += "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">\n";
        Open("html", "");
        Open("head", "");
        Open("title", "");
        out_ += "Generated page</title>\n";
        Open("body", " onunload=\"goodbye()\"");
        out_ += "\n";
        while (budget_ > 0) Block();
        out_ += "</body></html>\n";
        return out_;
    }

private:
    void Open(const char* tag, const std::string& attributes) {
        out_ += "<";
        out_ += tag;
        out_ += attributes;
        out_ += ">";
        --budget_;
    }
    std::string Number() { return std::to_string(serial_++); }

    void Link() {
        std::string attributes = " href=\"/articles/page" + Number() + ".html\"";
        const unsigned kind = random_.Next(10);
        if (kind < 6) attributes += std::string(" target=\"") + kTargets[random_.Next(7)] + "\"";
        Open("a", attributes);
        out_ += "Article " + std::to_string(serial_) + "</a>\n";
    }

    void Image() {
        const unsigned kind = random_.Next(10);
        std::string attributes;
        if (kind == 0) {
            attributes = " src=\"http://ads.example.com/serve?zone=" + Number() + "\" width=468 height=60";
        } else if (kind == 1) {
            attributes = " src=\"/img/banner" + Number() + ".gif\" width=\"120\" height=\"600\"";
        } else {
            attributes = " src=\"/img/photo" + Number() + ".jpg\" width=\"" +
                         std::to_string(50 + random_.Next(300)) + "\" height=\"" +
                         std::to_string(40 + random_.Next(200)) + "\" alt=\"photo\"";
        }
        Open("img", attributes);
        out_ += "\n";
    }

    void Plugin() {
        Open("object", " classid=\"clsid:D27CDB6E-AE6D-11cf-96B8-444553540000\" width=\"468\" height=\"60\"");
        Open("param", " name=\"movie\" value=\"/swf/ad" + Number() + ".swf\"");
        Open("embed", " src=\"/swf/ad" + std::to_string(serial_) + ".swf\" width=\"468\" height=\"60\"");
        out_ += "</object>\n";
    }

    void Form() {
        Open("form", " action=\"/search\" method=\"get\"" +
                         std::string(random_.Next(2) ? " target=\"results\"" : ""));
        Open("input", " type=\"text\" name=\"q\"");
        Open("input", " type=\"submit\" value=\"Go\"");
        out_ += "</form>\n";
    }

    void Map() {
        const std::string name = "map" + Number();
        Open("map", " name=\"" + name + "\"");
        Open("area", " shape=\"rect\" coords=\"0,0,60,60\" href=\"/left.html\" target=\"_blank\"");
        Open("area", " shape=\"rect\" coords=\"60,0,120,60\" href=\"/right.html\"");
        out_ += "</map>\n";
    }

    void Script() {
        Open("script", " type=\"text/javascript\"");
        out_ += "document.write('<a href=\"/x\" target=\"_blank\">not an element</a>');</script>\n";
    }

    void Container() {
        Open("div", " class=\"box" + std::to_string(random_.Next(5)) + "\"");
        const unsigned children = 1 + random_.Next(3);
        for (unsigned i = 0; i < children && budget_ > 0; ++i) Leaf();
        out_ += "</div>\n";
    }

    void Paragraph() {
        Open("p", "");
        out_ += "Some text &amp; more text, ";
        if (budget_ > 0) Link();
        out_ += "</p>\n";
    }

    void Leaf() {
        const unsigned kind = random_.Next(20);
        if (kind < 8) {
            Link();
        } else if (kind < 14) {
            Image();
        } else if (kind < 16) {
            Paragraph();
        } else if (kind < 17) {
            Plugin();
        } else if (kind < 18) {
            Form();
        } else if (kind < 19) {
            Map();
        } else {
            Script();
        }
    }

    void Block() {
        if (random_.Next(3) == 0) {
            Container();
        } else {
            Leaf();
        }
    }

    int budget_;
    Random random_;
    unsigned serial_ = 0;
    std::string out_;
};

}  // namespace

std::string GeneratePage(int elements, unsigned seed) {
    return PageWriter(elements, seed).Write();
}

}  // namespace standin
