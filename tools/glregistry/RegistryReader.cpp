#include "RegistryReader.h"

#include <cctype>
#include <stdexcept>

namespace glregistry {
namespace {

class Parser {
public:
    explicit Parser(const std::string& text)
        : m_text(text)
    {
    }

    std::unique_ptr<Element> document()
    {
        auto root = std::make_unique<Element>();
        std::vector<Element*> stack { root.get() };
        while (m_at < m_text.size()) {
            if (m_text[m_at] != '<') {
                const size_t end = m_text.find('<', m_at);
                addText(*stack.back(), decode(m_text.substr(m_at, end - m_at)));
                m_at = end == std::string::npos ? m_text.size() : end;
                continue;
            }
            if (startsWith("<!--")) {
                skipPast("-->");
            } else if (startsWith("<?") || startsWith("<!")) {
                skipPast(">");
            } else if (startsWith("</")) {
                m_at += 2;
                const std::string name = readName();
                skipPast(">");
                if (stack.size() < 2 || stack.back()->name != name)
                    fail("unbalanced </" + name + ">");
                stack.pop_back();
            } else {
                ++m_at;
                auto element = std::make_unique<Element>();
                element->name = readName();
                const bool empty = readAttributes(*element);
                Element* raw = element.get();
                stack.back()->children.push_back(std::move(element));
                if (!empty)
                    stack.push_back(raw);
            }
        }
        if (stack.size() != 1)
            fail("unclosed elements at the end");
        for (auto& child : root->children)
            if (!child->name.empty())
                return std::move(child);
        fail("no root element");
    }

private:
    [[noreturn]] void fail(const std::string& what) const
    {
        throw std::runtime_error("gl.xml: " + what + " near byte " + std::to_string(m_at));
    }

    bool startsWith(const char* prefix) const
    {
        return m_text.compare(m_at, std::char_traits<char>::length(prefix), prefix) == 0;
    }

    void skipPast(const char* terminator)
    {
        const size_t end = m_text.find(terminator, m_at);
        if (end == std::string::npos)
            fail(std::string("missing ") + terminator);
        m_at = end + std::char_traits<char>::length(terminator);
    }

    void skipSpace()
    {
        while (m_at < m_text.size() && std::isspace(static_cast<unsigned char>(m_text[m_at])))
            ++m_at;
    }

    std::string readName()
    {
        const size_t start = m_at;
        while (m_at < m_text.size() && !std::isspace(static_cast<unsigned char>(m_text[m_at])) && m_text[m_at] != '>'
            && m_text[m_at] != '/' && m_text[m_at] != '=')
            ++m_at;
        if (m_at == start)
            fail("empty name");
        return m_text.substr(start, m_at - start);
    }

    // True for an empty element (<x/>).
    bool readAttributes(Element& element)
    {
        for (;;) {
            skipSpace();
            if (m_at >= m_text.size())
                fail("unterminated tag");
            if (m_text[m_at] == '>') {
                ++m_at;
                return false;
            }
            if (startsWith("/>")) {
                m_at += 2;
                return true;
            }
            const std::string key = readName();
            skipSpace();
            if (m_at >= m_text.size() || m_text[m_at] != '=')
                fail("attribute without value");
            ++m_at;
            skipSpace();
            const char quote = m_at < m_text.size() ? m_text[m_at] : 0;
            if (quote != '"' && quote != '\'')
                fail("unquoted attribute");
            const size_t end = m_text.find(quote, m_at + 1);
            if (end == std::string::npos)
                fail("unterminated attribute");
            element.attributes[key] = decode(m_text.substr(m_at + 1, end - m_at - 1));
            m_at = end + 1;
        }
    }

    static void addText(Element& parent, std::string text)
    {
        auto run = std::make_unique<Element>();
        run->text = std::move(text);
        parent.children.push_back(std::move(run));
    }

    std::string decode(const std::string& raw) const
    {
        static const std::pair<const char*, char> kEntities[]
            = { { "&lt;", '<' }, { "&gt;", '>' }, { "&amp;", '&' }, { "&quot;", '"' }, { "&apos;", '\'' } };
        std::string out;
        for (size_t i = 0; i < raw.size();) {
            bool replaced = false;
            if (raw[i] == '&') {
                for (const auto& [entity, character] : kEntities) {
                    if (raw.compare(i, std::char_traits<char>::length(entity), entity) == 0) {
                        out += character;
                        i += std::char_traits<char>::length(entity);
                        replaced = true;
                        break;
                    }
                }
            }
            if (!replaced)
                out += raw[i++];
        }
        return out;
    }

    const std::string m_text;
    size_t m_at = 0;
};

} // namespace

const std::string* Element::attribute(const std::string& key) const
{
    const auto found = attributes.find(key);
    return found == attributes.end() ? nullptr : &found->second;
}

std::string Element::attributeOr(const std::string& key, const std::string& fallback) const
{
    const std::string* value = attribute(key);
    return value ? *value : fallback;
}

std::vector<const Element*> Element::childrenNamed(const std::string& childName) const
{
    std::vector<const Element*> found;
    for (const auto& child : children)
        if (child->name == childName)
            found.push_back(child.get());
    return found;
}

const Element* Element::child(const std::string& childName) const
{
    for (const auto& child : children)
        if (child->name == childName)
            return child.get();
    return nullptr;
}

std::string Element::allText() const
{
    if (name.empty())
        return text;
    std::string out;
    for (const auto& child : children)
        out += child->allText();
    return out;
}

std::unique_ptr<Element> parseDocument(const std::string& text)
{
    // A UTF-8 byte-order mark may lead the file.
    const std::string body = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? text.substr(3) : text;
    return Parser(body).document();
}

} // namespace glregistry
