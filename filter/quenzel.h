#pragma once
int quenzelMain(int argc, char** argv);
