object Form1: TForm
  object RSA1: TRSA
    KeyBits = kb1024
    PublicKey = '++2++E:+faQZNdzhAiTePENzdm8kaDKtRgfZXke5iRGQd2WUcO0CITJBp-ky96-6DHtZDthnrdsOdqJy8mT2ZoAmgY0M2-MQRk8aB5N8Afsj9BeTSzGHetmTuHLLwCtE37o-22MFfAyr0QrI3KjsoQji2mxSachIi1QT+Ab9eKKygroCm+'
    PrivateKey = '+faQZNdzhAiTePENzdm8kaDKtRgfZXke5iRGQd2WUcO0CITJBp-ky96-6DHtZDthnrdsOdqJy8mT2ZoAmgY0M2-MQRk8aB5N8Afsj9BeTSzGHetmTuHLLwCtE37o-22MFfAyr0QrI3KjsoQji2mxSachIi1QT+Ab9eKKygroCm+:QRO3nNrEzO1-OZGYrBh4UCmTQjs86C-Opq4NmPc0ZKmiDB8ah0x3Dutd-ISKLaYT90GOSDbn2t0KKBuTWBp-Yy0httL4oJYN1kGdA6WBuLR+UyLlUBryERh2rJodM+d7OzWTjm9E0PFBTvhwya5RYTaBdIom11HiNLLT69i4emA'
    Signature = 'kE-+I14MGwDHglj6x0EsLRxcGHB2pEzPRlFQ3wnWLyiS39de22BRgIE6SuPlyfM5pwXSHTCO3Sutg5CXmYE7wLcuKot5fuPiAB-wcVUZyN1BXSExmqq0OCOeSC-7Z89HbQRjgUUvE4KN9e8jDlHHe5eAAgE3e+qERau7mVA-+dY'
    Status = 'Idle'
    SymKeyLength = sk128
  end
end
