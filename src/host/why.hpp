#pragma once
// Why a message was not carried out: the reply's "why" word.
#include <string_view>

namespace nm::host {

enum class Why { too_large, refused, options, not_running };

struct WhyWord {
  Why why;
  std::string_view word;
};
// Each kind's word in the reply.
inline constexpr WhyWord kWhyWords[] = {
    {Why::too_large, "too-large"},
    {Why::refused, "refused"},
    {Why::options, "options"},
    {Why::not_running, "not-running"},
};
std::string_view why_word(Why why);

}  // namespace nm::host
