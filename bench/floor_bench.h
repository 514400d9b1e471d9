#pragma once

namespace benchmark {
class State;
}

// The platform calls of Create then Delete, made directly.
void CreateDeleteFloor(benchmark::State& state);

void RegisterFloorBenchmarks();
