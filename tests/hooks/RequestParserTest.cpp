#include "hooks/RequestParser.h"

#include <gtest/gtest.h>

#include <random>

namespace tallyloft {
namespace {

using Kind = Parse::Kind;

struct Case {
  const char* name;
  std::string data;
  Kind kind;
  std::string body;
};

Parse complete(std::string body) {
  return {Kind::complete, std::move(body)};
}

TEST(ParseBody, Table) {
  const std::string big(8'388'608, 'x');
  const Case cases[] = {
      {"no terminator yet", "POST /event HTTP/1.1\r\nContent-Length: 2\r\n", Kind::incomplete, ""},
      {"empty buffer", "", Kind::incomplete, ""},
      {"exact body", "POST /event HTTP/1.1\r\nContent-Length: 2\r\n\r\nhi", Kind::complete, "hi"},
      {"body still short", "POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\nhi", Kind::incomplete, ""},
      {"longer body is cut", "POST / HTTP/1.1\r\nContent-Length: 2\r\n\r\nhello", Kind::complete,
       "he"},
      {"name in any case, blanks around", "X\r\n \tcOnTeNt-LeNgTh\t :  3 \t\r\n\r\nabcd",
       Kind::complete, "abc"},
      {"leading plus", "X\r\nContent-Length: +3\r\n\r\nabc", Kind::complete, "abc"},
      {"not a number", "X\r\nContent-Length: 3x\r\n\r\nabc", Kind::complete, ""},
      {"only blanks", "X\r\nContent-Length:   \r\n\r\nabc", Kind::complete, ""},
      {"inner blank", "X\r\nContent-Length: 1 2\r\n\r\nabcdefghijklm", Kind::complete, ""},
      {"double sign", "X\r\nContent-Length: +-2\r\n\r\nabc", Kind::complete, ""},
      {"overflow counts as zero", "X\r\nContent-Length: 99999999999999999999\r\n\r\nab",
       Kind::complete, ""},
      {"no content-length", "GET / HTTP/1.1\r\nHost: x\r\n\r\nabc", Kind::complete, ""},
      {"chunked is an empty body", "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc",
       Kind::complete, ""},
      {"last one wins", "X\r\nContent-Length: 1\r\nContent-Length: 3\r\n\r\nabc", Kind::complete,
       "abc"},
      {"empty value line ignored", "X\r\nContent-Length: 3\r\nContent-Length:\r\n\r\nabc",
       Kind::complete, "abc"},
      {"leading colons skipped", "X\r\n::Content-Length: 2\r\n\r\nab", Kind::complete, "ab"},
      {"colon after the name stays in the value", "X\r\nContent-Length::2\r\n\r\nab",
       Kind::complete, ""},
      {"request line is a line too", "Content-Length: 2\r\n\r\nab", Kind::complete, "ab"},
      {"at the limit", "X\r\nContent-Length: 8388608\r\n\r\n" + big, Kind::complete, big},
      {"over the limit", "X\r\nContent-Length: 8388609\r\n\r\n", Kind::malformed, ""},
      {"negative", "X\r\nContent-Length: -1\r\n\r\nabc", Kind::malformed, ""},
      {"most negative", "X\r\nContent-Length: -9223372036854775808\r\n\r\n", Kind::malformed, ""},
      {"header not UTF-8", "X\r\nName: \xff\xfe\r\nContent-Length: 1\r\n\r\na", Kind::malformed,
       ""},
      {"overlong UTF-8", "X\r\nName: \xc0\xaf\r\n\r\n", Kind::malformed, ""},
      {"UTF-8 header is fine", "X\r\nName: caf\xc3\xa9\r\nContent-Length: 1\r\n\r\na",
       Kind::complete, "a"},
      {"body need not be UTF-8", "X\r\nContent-Length: 2\r\n\r\n\xff\xfe", Kind::complete,
       "\xff\xfe"},
      {"lone LF is not a terminator", "X\nContent-Length: 1\n\na", Kind::incomplete, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Parse result = parseBody(c.data);
    EXPECT_EQ(result.kind, c.kind);
    EXPECT_EQ(result.body.size(), c.body.size());
    EXPECT_TRUE(result.body == c.body);
  }
}

TEST(HasHeaderField, FindsNameInAnyCaseOnly) {
  EXPECT_TRUE(hasHeaderField("POST / HTTP/1.1\r\nOrigin: https://x.example", "origin"));
  EXPECT_TRUE(hasHeaderField("POST / HTTP/1.1\r\n ORIGIN :null", "origin"));
  EXPECT_FALSE(hasHeaderField("POST / HTTP/1.1\r\nX-Origin: a\r\nReferer: origin:", "origin"));
}

// The assembler must agree with the pure parser however the bytes are split.
TEST(RequestAssembler, AgreesWithParseBodyForEverySplit) {
  const std::vector<std::string> requests = {
      "POST /event HTTP/1.1\r\nContent-Length: 11\r\n\r\n{\"a\":\"bcd\"}trailing",
      "GET / HTTP/1.1\r\n\r\n",
      "X\r\nContent-Length: 9000000\r\n\r\nabc",
      "X\r\nBad: \xff\r\n\r\n",
      "X\r\nContent-Length: 5\r\n\r\nab",
      "\r\n\r\n",
      "X\r\r\n\n\r\nContent-Length: 1\r\n\r\nz",
  };
  std::mt19937 random(7);
  for (const std::string& request : requests) {
    for (int trial = 0; trial < 200; ++trial) {
      RequestAssembler assembler;
      std::size_t offset = 0;
      while (offset < request.size()) {
        const std::size_t take = std::min<std::size_t>(1 + random() % 4, request.size() - offset);
        offset += take;
        assembler.append(std::string_view(request).substr(offset - take, take));
        const Parse expected = parseBody(std::string_view(request).substr(0, offset));
        ASSERT_EQ(assembler.kind(), expected.kind) << request << " at " << offset;
        if (expected.kind == Kind::complete) {
          ASSERT_EQ(assembler.body(), expected.body);
          ASSERT_EQ(parseBody(request), complete(std::string(assembler.body())));
        }
      }
    }
  }
}

}  // namespace
}  // namespace tallyloft
