#pragma once

void RegisterRegistryBenchmarks();
