#pragma once
// What one of the web text writers puts out, as a string; it must have fit.
#include <gtest/gtest.h>

#include <string>

#include "web/text_sink.h"

template <typename Value>
std::string Render(void (*put)(TextSink&, const Value&), const Value& value) {
    static char text[16384];
    TextSink sink = SinkOver(text, sizeof text);
    put(sink, value);
    EXPECT_FALSE(sink.overflowed);
    return std::string(text, sink.length);
}
