// Pages no one would write by hand, of extreme size, depth and content, as
// the hostile-input tests load them through the browser stand-in and the
// hostile-page benchmark times them with and without the helper.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace korvane::test {

// Every page carries the marks of what the page scan must do with it: an
// unload handler on its body or frameset (id "page"), a link with the id
// "last" and the target "_blank" after everything else, and a banner image
// with the id "ad". In a page of frames the marks of links and images are
// in the last frame's document, frameContext of its window.
struct HostilePage {
    std::string name;
    std::string url;
    // {host/path, bytes} for WriteSitePage; the first is the page itself.
    std::vector<std::pair<std::string, std::string>> files;
    std::string frameContext;  // "" or "/f999": where the link and the ad are
    // A script of the page puts halves of surrogate pairs into the first
    // link's target and address and the first image's address, which no
    // character reference can (the parser makes U+FFFD of those).
    bool scriptWritesHalves = false;
    // The window shows the page this many times one after another, at
    // addresses that differ in their query, as a reader goes from one
    // listing of a project's sources to the next.
    int timesInOneWindow = 1;
    // The address of the page's showing-th showing, from 0.
    std::string Address(int showing) const {
        return showing ? url + "?" + std::to_string(showing + 1) : url;
    }
};

std::vector<HostilePage> HostilePages();

// n bytes of every value 0 to 255, the same for the same seed.
std::string RandomBytes(size_t n, unsigned seed);

}  // namespace korvane::test
