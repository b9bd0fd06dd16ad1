#include <gtest/gtest.h>
#include <boost/json.hpp>

#include "doctor/doctor.hpp"

namespace nm::doctor {
TEST(DoctorReport, TextAndJson) {
  Report r;
  r.add(Verdict::problem, "two", "broken \xFF", {"detail"});
  r.add(Verdict::warning, "three", "odd");
  r.options.browsers = {{"Opera", false}, {"Zen", true}};
  EXPECT_EQ(exit_code(r), 1);
  EXPECT_NE(render_text(r).find("\nproblem  two: broken \xFF\n           detail\n"
                                "warning  three: odd\n\n1 problem, 1 warning.\n"),
            std::string::npos);
  const auto v = boost::json::parse(render_json(r));
  EXPECT_EQ(v.at("checks").at(0).at("explanation"), "broken \xEF\xBF\xBD");  // valid UTF-8
  EXPECT_EQ(v.at("verdict"), "problem");
  EXPECT_EQ(v.at("data_dir"), nullptr);
  EXPECT_EQ(v.at("options").at("browsers"),
            boost::json::parse(R"([["Opera",false],["Zen",true]])"));
  r.checks.erase(r.checks.begin());
  EXPECT_TRUE(render_text(r).ends_with("\nno problems, 1 warning.\n"));
  for (const Verdict v : {Verdict::problem, Verdict::problem, Verdict::warning}) r.add(v, "n", "x");
  EXPECT_TRUE(render_text(r).ends_with("\n2 problems, 2 warnings.\n"));
}
}  // namespace nm::doctor
