import vorn_core as vc

import vorn._native as native


def test_the_companion_module_raises_the_panic_of_vorn_core():
    assert native.__name__ == "vorn._native"
    assert native.__doc__.startswith("Native helpers of the vorn companion package")
    assert vc.PanicException.__module__ == "vorn_core"
