#include "project_file_keys.h"

#include <algorithm>
#include <type_traits>

#include "project_file_internal.h"

namespace qvp3::prjfile {

namespace {

template <class... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};

}  // namespace

std::optional<int> readRuledInt(ProfileContext& context, std::string_view key, const ReadRule& rule, bool& usable) {
    const int value = context.readInt(key, rule.def);
    usable = value >= rule.low && value <= rule.high && !(rule.defIsMissing && value == rule.def);
    if (usable) return value;
    if (rule.missing == Missing::Fallback) return rule.fallback;
    return std::nullopt;
}

bool readPlainKey(ProfileContext& context, std::string_view key, Form form, const ReadRule& rule, Truth truth,
                  const FieldRef& field) {
    bool usable = true;
    switch (form) {
    case Form::Int:
        if (const auto value = readRuledInt(context, key, rule, usable)) setFieldInt(field, *value);
        break;
    case Form::Flag:
        if (truth == Truth::Text) {
            const std::optional<std::string> text = readTextKey(context, key);
            usable = text.has_value();
            if (text) setFieldInt(field, textFlag(*text) ? 1 : 0);
        } else if (const auto value = readRuledInt(context, key, rule, usable)) {
            setFieldInt(field, (truth == Truth::One ? *value == 1 : *value != 0) ? 1 : 0);
        }
        break;
    case Form::Text: {
        std::optional<std::string> text = readTextKey(context, key);
        usable = text.has_value();
        auto* const target = std::get_if<std::string*>(&field);
        if (target && text) {
            **target = std::move(*text);
        } else if (target && rule.missing == Missing::Fallback) {
            (*target)->clear();
        }
        break;
    }
    case Form::RawText:
        if (auto* const target = std::get_if<std::string*>(&field)) **target = context.readString(key, "");
        break;
    case Form::Blob: {
        auto block = prfReadIniBlob(context, key);
        usable = block.has_value();
        auto* const target = std::get_if<std::vector<std::uint8_t>*>(&field);
        if (target && block) **target = std::move(*block);
        break;
    }
    default:
        break;
    }
    return usable;
}

void writePlainKey(ProfileContext& context, std::string_view key, Form form, const FieldRef& field) {
    switch (form) {
    case Form::Int:
        writeInt(context, key, fieldInt(field));
        break;
    case Form::Flag:
        writeFlag(context, key, fieldInt(field) != 0);
        break;
    case Form::Text:
    case Form::RawText:
        writeText(context, key, *std::get<std::string*>(field));
        break;
    case Form::Blob:
        if (const auto& block = *std::get<std::vector<std::uint8_t>*>(field); !block.empty()) {
            prfWriteIniBlob(context, block, key);
        }
        break;
    default:
        break;
    }
}

std::int64_t fieldInt(const FieldRef& field) {
    return std::visit(Overloaded{
                          [](std::int32_t* value) -> std::int64_t { return *value; },
                          [](std::uint8_t* value) -> std::int64_t { return *value; },
                          [](std::uint32_t* value) -> std::int64_t { return static_cast<std::int32_t>(*value); },
                          [](bool* value) -> std::int64_t { return *value ? 1 : 0; },
                          [](const auto&) -> std::int64_t { return 0; },
                      },
                      field);
}

void setFieldInt(const FieldRef& field, std::int64_t value) {
    std::visit(Overloaded{
                   [&](std::int32_t* target) { *target = static_cast<std::int32_t>(value); },
                   [&](std::uint8_t* target) { *target = static_cast<std::uint8_t>(value); },
                   [&](std::uint32_t* target) { *target = static_cast<std::uint32_t>(value); },
                   [&](bool* target) { *target = value != 0; },
                   [](const auto&) {},
               },
               field);
}

void copyField(const FieldRef& from, const FieldRef& to) {
    std::visit(
        [&](const auto& source) {
            using Pointer = std::decay_t<decltype(source)>;
            if constexpr (std::is_pointer_v<Pointer>) *std::get<Pointer>(to) = *source;
        },
        from);
}

std::string expandKey(std::string_view name, std::string_view section, std::initializer_list<int> numbers) {
    std::string key;
    if (name.starts_with('|')) key = section;
    auto next = numbers.begin();
    for (std::size_t i = 0; i < name.size();) {
        if (name[i] != '#') {
            key += name[i++];
            continue;
        }
        const std::size_t run = std::min(name.find_first_not_of('#', i), name.size()) - i;
        key += padded(next != numbers.end() ? *next++ : 0, run);
        i += run;
    }
    return key;
}

}  // namespace qvp3::prjfile
