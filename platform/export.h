// Symbol visibility of the library's public interface.
#pragma once

#define VANTREL_API __attribute__((visibility("default")))
