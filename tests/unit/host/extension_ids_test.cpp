#include "host/extension_ids.hpp"

#include <gtest/gtest.h>

namespace nm::host {
TEST(ExtensionIds, ThirtyTwoLettersFromAToP) {
  for (const char* id : {"pjgmbkdaieonhfclgkbimepajnodlhfc", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
                         "pppppppppppppppppppppppppppppppp"})
    EXPECT_TRUE(is_extension_id(id)) << id;
  // q lies past p and ` before a; upper case; one short, one long.
  for (const char* id : {"pjgmbkdaieonhfclgkbimepajnodlhfq", "`jgmbkdaieonhfclgkbimepajnodlhfc",
                         "Pjgmbkdaieonhfclgkbimepajnodlhfc", "pjgmbkdaieonhfclgkbimepajnodlhf",
                         "pjgmbkdaieonhfclgkbimepajnodlhfcc", "", "EDGE_ADDONS_ID_PENDING"})
    EXPECT_FALSE(is_extension_id(id)) << id;
}
}  // namespace nm::host
