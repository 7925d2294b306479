#pragma once
// A small reader for the OpenGL registry's XML: elements with attributes,
// children and text, entities decoded, comments and declarations skipped.
// The registry is trusted build input; a malformed file ends the generator
// with a message.

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace glregistry {

struct Element {
    std::string name;
    std::map<std::string, std::string> attributes;
    // Children in document order; text runs are elements with an empty name.
    std::vector<std::unique_ptr<Element>> children;
    std::string text; // for text runs

    const std::string* attribute(const std::string& key) const;
    std::string attributeOr(const std::string& key, const std::string& fallback) const;
    // Child elements with that name.
    std::vector<const Element*> childrenNamed(const std::string& childName) const;
    const Element* child(const std::string& childName) const;
    // The text of this element and all descendants, tags removed.
    std::string allText() const;
};

// The document's root element; throws std::runtime_error on malformed input.
std::unique_ptr<Element> parseDocument(const std::string& text);

} // namespace glregistry
