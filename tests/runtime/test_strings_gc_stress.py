# Same oracle as test_str_methods.py.
import os
import runpy

runpy.run_path(os.path.join(os.path.dirname(os.path.abspath(__file__)), "test_str_methods.py"))
