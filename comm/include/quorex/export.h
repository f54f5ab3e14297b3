// Quorex exports its classes and their members, and nothing else.
#pragma once

#define QUOREX_API __attribute__((visibility("default")))
