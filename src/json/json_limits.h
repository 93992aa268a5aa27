#pragma once

// How deep any JSON text or value may nest, the outermost array or object counting as 1. Deeper
// input is a decoding error and a deeper value an encoding error, so nothing that walks a value
// level by level can run out of stack.
namespace json {
inline constexpr int kMaxDepth = 512;
} // namespace json
