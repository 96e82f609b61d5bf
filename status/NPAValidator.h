// NPA packet framing and response validation (placeholder).
#pragma once
