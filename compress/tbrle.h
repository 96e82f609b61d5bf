// TBRLE run-length codec (placeholder until the compression modules land).
#pragma once
