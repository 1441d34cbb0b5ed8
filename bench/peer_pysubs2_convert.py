#!/usr/bin/python3
"""The Python peer of the conversion benchmark: pysubs2 loads IN and saves it as FORMAT
(srt or ass) to OUT, as a conversion script would.

    peer_pysubs2_convert.py IN FORMAT OUT"""
import sys

import pysubs2

pysubs2.load(sys.argv[1], encoding="utf-8").save(sys.argv[3], format_=sys.argv[2])
