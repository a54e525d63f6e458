# Undo memory of painted strokes on a 16-megapixel label layer.
if(TARGET imaging)
    vellacut_benchmark(label_edit_benchmark label_edit_benchmark.cpp
        LIBS vellacut::imaging)
endif()
