// glregistry <gl.xml> <header out> <source out>
//
// Writes the OpenGL back end's entry points from the registry: the GL types and
// enumerants, one pointer per command typed by its prototype, and the table
// {name, pointer slot, required} that the loader walks in order. Required are
// the commands of the GL 1.0 to 3.1 features (compatibility ones included),
// each once, in feature order; optional are the commands of every extension
// for desktop GL that are not required, in registry order. Commands that only
// later core versions define are left out.

#include "RegistryReader.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <stdexcept>

namespace {

using glregistry::Element;

std::string readFile(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error(std::string("cannot read ") + path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool forDesktopGL(const Element& element, const char* attributeName)
{
    const std::string* api = element.attribute(attributeName);
    if (!api)
        return true;
    std::stringstream tokens(*api);
    std::string token;
    while (std::getline(tokens, token, '|'))
        if (token == "gl" || token == "glcore")
            return true;
    return false;
}

// "3.1" as 31.
int versionNumber(const std::string& number)
{
    const size_t dot = number.find('.');
    if (dot == std::string::npos)
        throw std::runtime_error("bad feature number " + number);
    return std::stoi(number.substr(0, dot)) * 10 + std::stoi(number.substr(dot + 1));
}

std::string trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return "";
    const size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// The text of an element up to its <name> child: a return or parameter type.
std::string typeBeforeName(const Element& element)
{
    std::string out;
    for (const auto& child : element.children) {
        if (child->name == "name")
            break;
        out += child->allText();
    }
    return trim(out);
}

struct Command {
    std::string name;
    std::string returnType;
    std::vector<std::string> parameterTypes;
};

std::string pointerTypeName(const std::string& command) { return "PFN_" + command; }

void writeTypes(std::ostream& out, const Element& registry)
{
    out << "using khronos_int8_t = std::int8_t;\n"
           "using khronos_uint8_t = std::uint8_t;\n"
           "using khronos_int16_t = std::int16_t;\n"
           "using khronos_uint16_t = std::uint16_t;\n"
           "using khronos_int32_t = std::int32_t;\n"
           "using khronos_uint32_t = std::uint32_t;\n"
           "using khronos_int64_t = std::int64_t;\n"
           "using khronos_uint64_t = std::uint64_t;\n"
           "using khronos_float_t = float;\n"
           "using khronos_intptr_t = std::intptr_t;\n"
           "using khronos_uintptr_t = std::uintptr_t;\n"
           "using khronos_ssize_t = std::ptrdiff_t;\n"
           "using khronos_usize_t = std::size_t;\n\n";
    for (const Element* types : registry.childrenNamed("types")) {
        for (const Element* type : types->childrenNamed("type")) {
            if (!forDesktopGL(*type, "api") || type->attributeOr("name", "") == "khrplatform")
                continue;
            const std::string text = trim(type->allText());
            if (text.empty() || (text[0] == '#' && text.find("include") != std::string::npos))
                continue;
            out << text << "\n";
        }
    }
    out << "\n";
}

void writeEnums(std::ostream& out, const Element& registry)
{
    std::set<std::string> written;
    for (const Element* enums : registry.childrenNamed("enums")) {
        for (const Element* value : enums->childrenNamed("enum")) {
            if (!forDesktopGL(*value, "api"))
                continue;
            const std::string name = value->attributeOr("name", "");
            const std::string number = value->attributeOr("value", "");
            if (name.empty() || number.empty() || !written.insert(name).second)
                continue;
            const std::string suffix = value->attributeOr("type", "");
            const char* cType = suffix == "ull" ? "unsigned long long" : number[0] == '-' ? "int" : "unsigned int";
            out << "inline constexpr " << cType << " " << name << " = " << number << (suffix == "ull" ? "ull" : "")
                << ";\n";
        }
    }
    out << "\n";
}

std::map<std::string, Command> readCommands(const Element& registry)
{
    std::map<std::string, Command> commands;
    for (const Element* block : registry.childrenNamed("commands")) {
        for (const Element* element : block->childrenNamed("command")) {
            const Element* proto = element->child("proto");
            const Element* name = proto ? proto->child("name") : nullptr;
            if (!name)
                throw std::runtime_error("command without a name");
            Command command { trim(name->allText()), typeBeforeName(*proto), {} };
            for (const Element* parameter : element->childrenNamed("param"))
                command.parameterTypes.push_back(typeBeforeName(*parameter));
            commands[command.name] = command;
        }
    }
    return commands;
}

void collectRequired(const Element& registry, std::vector<std::string>& order, std::set<std::string>& seen)
{
    for (const Element* feature : registry.childrenNamed("feature")) {
        if (feature->attributeOr("api", "") != "gl" || versionNumber(feature->attributeOr("number", "0.0")) > 31)
            continue;
        for (const Element* require : feature->childrenNamed("require"))
            for (const Element* command : require->childrenNamed("command"))
                if (seen.insert(command->attributeOr("name", "")).second)
                    order.push_back(command->attributeOr("name", ""));
    }
}

void collectOptional(const Element& registry, std::vector<std::string>& order, std::set<std::string>& seen)
{
    for (const Element* extensions : registry.childrenNamed("extensions"))
        for (const Element* extension : extensions->childrenNamed("extension")) {
            if (!extension->attribute("supported") || !forDesktopGL(*extension, "supported"))
                continue;
            for (const Element* require : extension->childrenNamed("require")) {
                if (!forDesktopGL(*require, "api"))
                    continue;
                for (const Element* command : require->childrenNamed("command"))
                    if (seen.insert(command->attributeOr("name", "")).second)
                        order.push_back(command->attributeOr("name", ""));
            }
        }
}

const Command& commandNamed(const std::map<std::string, Command>& commands, const std::string& name)
{
    const auto found = commands.find(name);
    if (found == commands.end())
        throw std::runtime_error("no prototype for " + name);
    return found->second;
}

void writeHeader(std::ostream& out, const Element& registry, const std::map<std::string, Command>& commands,
    const std::vector<std::string>& order, size_t requiredCount)
{
    out << "#pragma once\n"
           "// Generated by tools/glregistry from the OpenGL registry. Do not edit.\n\n"
           "#include <cstddef>\n#include <cstdint>\n\n"
           "namespace quern::opengl {\n\n";
    writeTypes(out, registry);
    writeEnums(out, registry);
    for (const std::string& name : order) {
        const Command& command = commandNamed(commands, name);
        out << "using " << pointerTypeName(name) << " = " << command.returnType << " (*)(";
        for (size_t i = 0; i < command.parameterTypes.size(); ++i)
            out << (i ? ", " : "") << command.parameterTypes[i];
        out << ");\n";
    }
    out << "\n";
    for (const std::string& name : order)
        out << "extern " << pointerTypeName(name) << " " << name << ";\n";
    out << "\n// One entry point: its name, the address of its pointer, and whether a\n"
           "// context without it is refused.\n"
           "struct GLEntryPoint {\n    const char* name;\n    void* slot;\n    bool required;\n};\n\n"
           "inline constexpr std::size_t kRequiredGLEntryPointCount = "
        << requiredCount << ";\n"
        << "inline constexpr std::size_t kGLEntryPointCount = " << order.size() << ";\n"
        << "// The required entry points first, then the optional ones.\n"
           "extern const GLEntryPoint kGLEntryPoints[kGLEntryPointCount];\n\n"
           "} // namespace quern::opengl\n";
}

void writeSource(
    std::ostream& out, const std::string& headerName, const std::vector<std::string>& order, size_t requiredCount)
{
    out << "// Generated by tools/glregistry from the OpenGL registry. Do not edit.\n\n"
           "#include \""
        << headerName << "\"\n\nnamespace quern::opengl {\n\n";
    for (const std::string& name : order)
        out << pointerTypeName(name) << " " << name << " = nullptr;\n";
    out << "\nconst GLEntryPoint kGLEntryPoints[kGLEntryPointCount] = {\n";
    for (size_t i = 0; i < order.size(); ++i)
        out << "    {\"" << order[i] << "\", &" << order[i] << ", " << (i < requiredCount ? "true" : "false") << "},\n";
    out << "};\n\n} // namespace quern::opengl\n";
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::cerr << "usage: glregistry <gl.xml> <header out> <source out> <header include name>\n";
        return 2;
    }
    try {
        const auto registry = glregistry::parseDocument(readFile(argv[1]));
        const auto commands = readCommands(*registry);
        std::vector<std::string> order;
        std::set<std::string> seen;
        collectRequired(*registry, order, seen);
        const size_t requiredCount = order.size();
        collectOptional(*registry, order, seen);
        std::ofstream header(argv[2], std::ios::binary);
        writeHeader(header, *registry, commands, order, requiredCount);
        std::ofstream source(argv[3], std::ios::binary);
        writeSource(source, argv[4], order, requiredCount);
        if (!header || !source)
            throw std::runtime_error("cannot write the output files");
    } catch (const std::exception& error) {
        std::cerr << "glregistry: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
